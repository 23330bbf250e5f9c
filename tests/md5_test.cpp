// MD5 against RFC 1321's test suite and known digests around the padding's edges, fed
// whole and in pieces of every size.
#include "digest/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Vector {
  std::string message;
  const char* hex;
};

std::string HexOf(const uint8_t digest[kMd5DigestBytes]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t k = 0; k < kMd5DigestBytes; ++k) {
    hex += kDigits[digest[k] >> 4];
    hex += kDigits[digest[k] & 0xF];
  }
  return hex;
}

std::string Repeated(const std::string& s, size_t times) {
  std::string r;
  for (size_t k = 0; k < times; ++k) r += s;
  return r;
}

std::vector<Vector> Vectors() {
  return {
      // RFC 1321, appendix A.5.
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {Repeated("1234567890", 8), "57edf4a22be3c955ac49da2e2107b67a"},
      // The padding's edges: 55 bytes leave room for the length in the last block, 56 to
      // 63 take one more block; multiples of 64 end a block exactly.
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
  };
}

TEST(Md5, Rfc1321TestSuiteAndThePaddingsEdges) {
  for (const Vector& v : Vectors()) {
    uint8_t digest[kMd5DigestBytes];
    Md5Digest(v.message.data(), v.message.size(), digest);
    EXPECT_EQ(HexOf(digest), v.hex) << v.message.size() << " bytes";
  }
}

TEST(Md5, PiecesOfEverySizeGiveTheSameDigest) {
  for (const Vector& v : Vectors()) {
    for (size_t piece = 1; piece <= 70; ++piece) {
      CMd5 md5;
      md5.Update(nullptr, 0);
      for (size_t at = 0; at < v.message.size(); at += piece) {
        const size_t n = std::min(piece, v.message.size() - at);
        md5.Update(v.message.data() + at, n);
        md5.Update(v.message.data() + at + n, 0);
      }
      uint8_t digest[kMd5DigestBytes];
      md5.Final(digest);
      ASSERT_EQ(HexOf(digest), v.hex) << v.message.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(Md5, AMillionBytesAndAReusedObject) {
  const std::string million(1000000, 'a');
  CMd5 md5;
  md5.Update("stale", 5);
  uint8_t digest[kMd5DigestBytes];
  md5.Final(digest);
  md5.Begin();
  md5.Update(million.data(), million.size());
  md5.Final(digest);
  EXPECT_EQ(HexOf(digest), "7707d6ae4e027c70eea2a935c2296f21");
}

}  // namespace
