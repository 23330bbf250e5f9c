// Several threads in the real module at once: listings and extractions of PSARC and PKG
// archives on 8 threads, every result checked against a listing and extraction made on
// one thread first; and listings of archives no one listed before, started together, that
// must end sharing one block table.
//
// VAREL_THREAD_ROUNDS sets the rounds per thread (1,000 by default; the run under
// helgrind takes fewer).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform_testing.h"
#include "tests/support/psarc_test_support.h"

namespace {

constexpr int kThreads = 8;

int Rounds() {
  const char* v = std::getenv("VAREL_THREAD_ROUNDS");
  const int n = v != nullptr ? std::atoi(v) : 0;
  return n > 0 ? n : 1000;
}

// One archive as a file on disk, with what a single thread listed and extracted from it.
struct Reference {
  Reference(const std::string& n, const Bytes& bytes) : name(n), file(bytes) {}
  std::string name;
  CArchiveFile file;
  std::vector<ArchiveEntry> records;    // as listed (the table's address included)
  std::vector<Bytes> stored;            // packedSize bytes at offset, per record
  std::vector<Bytes> contents;          // the block each extraction hands over
  std::vector<ArchiveEntry> extracted;  // each record as the extraction rewrote it
};

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Lists an archive through a handle of its own; empty on any failure.
std::vector<ArchiveEntry> List(const std::string& path, const uint8_t* header, int32_t* result) {
  std::vector<ArchiveEntry> records;
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) {
    *result = -1;
    return records;
  }
  ArchiveSource source;
  source.file = file;
  source.header = header;
  HGLOBAL block = nullptr;
  int32_t count = -1;
  *result = Plugin().GetArchiveInfo(&source, &block, &count);
  CloseHandle(file);
  if (block == nullptr) return records;
  if ((GlobalFlags(block) & GMEM_LOCKCOUNT) != 0) *result = -2;  // must arrive unlocked
  const auto* p = static_cast<const ArchiveEntry*>(GlobalLock(block));
  if (p != nullptr && count > 0) records.assign(p, p + count);
  if (p != nullptr) GlobalUnlock(block);
  GlobalFree(block);
  return records;
}

// Extracts one record; the block's bytes, or a note of what went wrong.
bool Extract(ArchiveEntry* entry, const Bytes& stored, Bytes* contents, std::string* why) {
  HGLOBAL block = nullptr;
  const int32_t result = Plugin().GetFile(0, stored.data(), entry, &block);
  if (result != 0 || block == nullptr) {
    *why = "result " + std::to_string(result);
    return false;
  }
  if ((GlobalFlags(block) & GMEM_LOCKCOUNT) != 0) *why = "block handed over locked";
  const size_t n = GlobalSize(block);
  contents->clear();
  if (n != 0) {
    const auto* p = static_cast<const uint8_t*>(GlobalLock(block));
    if (p != nullptr) contents->assign(p, p + n);
    GlobalUnlock(block);
  }
  GlobalFree(block);
  return why->empty();
}

std::unique_ptr<Reference> MakeReference(const std::string& name, const Bytes& bytes) {
  auto r = std::make_unique<Reference>(name, bytes);
  int32_t result = -1;
  r->records = List(r->file.path(), r->file.header(), &result);
  EXPECT_EQ(result, 0) << name;
  EXPECT_FALSE(r->records.empty()) << name;
  for (const ArchiveEntry& e : r->records) {
    r->stored.push_back(StoredBytesOf(bytes, e));
    ArchiveEntry copy = e;
    Bytes contents;
    std::string why;
    EXPECT_TRUE(Extract(&copy, r->stored.back(), &contents, &why)) << name << ": " << why;
    r->contents.push_back(contents);
    r->extracted.push_back(copy);
  }
  return r;
}

std::vector<std::unique_ptr<Reference>> References() {
  std::vector<std::unique_ptr<Reference>> refs;
  refs.push_back(MakeReference("psarc mixed", PackPsarc({{"text.txt", TextBytes(140000)},
                                                         {"noise.bin", NoiseBytes(70000, 2)},
                                                         {"empty", {}},
                                                         {"dir/tiny", BytesOf("x")}})));
  std::vector<ArchiveInput> many;
  for (int i = 0; i < 120; ++i) {
    many.push_back(
        {"many/file" + std::to_string(i), NoiseBytes(static_cast<size_t>(50 + 7 * i), i)});
  }
  refs.push_back(MakeReference("psarc many", PackPsarc(many)));
  refs.push_back(MakeReference("pkg coded", PackPkg({{"a.txt", TextBytes(30000)},
                                                     {"b.bin", NoiseBytes(5000, 4)},
                                                     {"zeros", Bytes(9000, 0)}})));
  refs.push_back(MakeReference(
      "pkg stored", PackPkg({{"s.txt", TextBytes(4000)}, {"t", {}}}, PkgCompression::kNever)));
  return refs;
}

// One thread's rounds: each lists one archive and checks every record against the
// reference, then extracts a few of its entries (from the fresh records and from the
// reference's, whose tables another thread may be reading at the same time) and checks
// the bytes. The first failure ends the thread's rounds with a note.
std::string Work(int thread, int rounds, const std::vector<std::unique_ptr<Reference>>& refs) {
  for (int round = 0; round < rounds; ++round) {
    const Reference& r = *refs[static_cast<size_t>(round + thread) % refs.size()];
    const std::string at =
        r.name + ", thread " + std::to_string(thread) + ", round " + std::to_string(round) + ": ";
    // The queries that need no archive, too.
    PluginInfo info;
    if (Plugin().GetPluginInfo(&info) != 0 || std::strcmp(info.name, "Varel Archive") != 0) {
      return at + "plug-in information";
    }
    int32_t type = -1;
    ArchiveSource probe{INVALID_HANDLE_VALUE, r.file.header()};
    if (Plugin().IsSupported(&probe, 1, &type) != 0 || type != r.records[0].type) {
      return at + "detection";
    }
    int32_t result = -1;
    const std::vector<ArchiveEntry> records = List(r.file.path(), r.file.header(), &result);
    if (result != 0) return at + "listing result " + std::to_string(result);
    if (records.size() != r.records.size()) return at + "listing count";
    // Byte for byte, the block table's address included: identical tables are shared.
    if (std::memcmp(records.data(), r.records.data(), records.size() * sizeof(ArchiveEntry)) != 0) {
      return at + "records differ from the reference listing";
    }
    const size_t n = records.size();
    for (size_t k = 0; k < 3 && k < n; ++k) {
      const size_t i = (static_cast<size_t>(round) * 7 + k * 13 + static_cast<size_t>(thread)) % n;
      ArchiveEntry entry = k == 1 ? r.records[i] : records[i];
      Bytes contents;
      std::string why;
      if (!Extract(&entry, r.stored[i], &contents, &why)) {
        return at + "entry " + std::to_string(i) + ": " + why;
      }
      if (contents != r.contents[i]) return at + "entry " + std::to_string(i) + ": bytes differ";
      if (std::memcmp(&entry, &r.extracted[i], sizeof(entry)) != 0) {
        return at + "entry " + std::to_string(i) + ": record rewritten differently";
      }
    }
  }
  return std::string();
}

TEST(Threads, EightThreadsListAndExtractAtOnce) {
  const std::vector<std::unique_ptr<Reference>> refs = References();
  ASSERT_FALSE(HasFailure());
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  // Every table exists already (the references were listed), so no listing adds one.
  const int32_t heap = PlatformLiveHeapBlocks();
  const int32_t global = PlatformLiveGlobalBlocks();
#endif
  const int rounds = Rounds();
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, rounds, &refs, &failures] { failures[t] = Work(t, rounds, refs); });
  }
  for (std::thread& t : threads) t.join();
  for (const std::string& f : failures) EXPECT_EQ(f, "");
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  EXPECT_EQ(PlatformLiveHeapBlocks(), heap) << "nothing added, nothing leaked";
  EXPECT_EQ(PlatformLiveGlobalBlocks(), global);
#endif
}

// Lets every thread go at once, as near the same moment as the scheduler allows.
class CStartLine {
 public:
  explicit CStartLine(int threads) : waiting_(threads) {}
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) {
      go_.notify_all();
      return;
    }
    go_.wait(lock, [this] { return waiting_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable go_;
  int waiting_;
};

TEST(Threads, ListingsOfANewArchiveStartedTogetherShareOneTable) {
  const int archives = Rounds() >= 1000 ? 60 : 10;
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  const int32_t heap = PlatformLiveHeapBlocks();
#endif
  for (int a = 0; a < archives; ++a) {
    // An archive no one listed before: a table of a length of its own.
    std::vector<ArchiveInput> inputs;
    for (int e = 0; e < 300 + a; ++e) inputs.push_back({"n" + std::to_string(e), BytesOf("v")});
    const CArchiveFile file(PackPsarc(inputs));
    CStartLine start(kThreads);
    std::vector<std::vector<ArchiveEntry>> listed(kThreads);
    std::vector<int32_t> results(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        start.Wait();
        listed[t] = List(file.path(), file.header(), &results[t]);
      });
    }
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
      ASSERT_EQ(results[t], 0) << "archive " << a << ", thread " << t;
      ASSERT_EQ(listed[t].size(), inputs.size() + 1) << "archive " << a << ", thread " << t;
      for (const ArchiveEntry& e : listed[t]) {
        ASSERT_EQ(e.blockTable, listed[0][0].blockTable) << "archive " << a << ", thread " << t;
      }
      EXPECT_EQ(
          std::memcmp(listed[t].data(), listed[0].data(), listed[0].size() * sizeof(ArchiveEntry)),
          0)
          << "archive " << a << ", thread " << t;
    }
  }
#if defined(VAREL_HAVE_PLATFORM_SEAM)
  // One table (its record and its values) per archive; the registry's storage may have
  // moved to a larger block, which leaves the count of blocks as it was.
  const int32_t added = PlatformLiveHeapBlocks() - heap;
  EXPECT_GE(added, 2 * archives);
  EXPECT_LE(added, 2 * archives + 1);
#endif
}

}  // namespace
