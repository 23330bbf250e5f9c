// MD5 (RFC 1321), for the 16-byte name digests of PSARC tables of contents: the listing
// matches each entry's digest against the digests of the manifest's names, and the writers
// put them there. Plain portable code with no library call, so the plug-in imports nothing
// for it; its round constants are a literal table.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kMd5DigestBytes = 16;

// An MD5 computation fed in pieces of any length: Update as often as needed, then Final
// once. Final leaves the object to be reset by Begin before another use.
class CMd5 {
 public:
  CMd5() { Begin(); }

  // Starts a new message.
  void Begin();
  // Appends n bytes (n may be 0; data may then be NULL).
  void Update(const void* data, size_t n);
  // Pads the message and writes its 16-byte digest.
  void Final(uint8_t digest[kMd5DigestBytes]);

 private:
  uint32_t state_[4];
  uint64_t length_;      // bytes appended so far
  uint8_t pending_[64];  // the bytes of a block not yet complete, length_ % 64 of them
};

// The digest of one message of n bytes.
void Md5Digest(const void* data, size_t n, uint8_t digest[kMd5DigestBytes]);
