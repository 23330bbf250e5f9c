// What a writer does when its sink or its source fails, and the limits it names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/writers/archive_stream.h"
#include "tools/writers/pkg_writer.h"
#include "tools/writers/psarc_writer.h"

namespace {

// A sink that refuses its n-th write, and a source that fails reading one entry.
class CFailingSink : public CMemorySink {
 public:
  explicit CFailingSink(int failAt) : failAt_(failAt) {}
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t n, std::string* error) override {
    if (writes_++ == failAt_) {
      *error = "the disk is full";
      return false;
    }
    return CMemorySink::WriteAt(offset, data, n, error);
  }
  int writes() const { return writes_; }

 private:
  int failAt_;
  int writes_ = 0;
};

class CFailingEntries : public CMemoryEntries {
 public:
  CFailingEntries(const std::vector<ArchiveInput>& entries, size_t failing)
      : CMemoryEntries(entries), failing_(failing) {}
  bool Read(size_t index, uint64_t offset, uint8_t* out, size_t n, std::string* error) override {
    if (index == failing_) {
      *error = Name(index) + ": it shrank while being packed";
      return false;
    }
    return CMemoryEntries::Read(index, offset, out, n, error);
  }

 private:
  size_t failing_;
};

std::vector<ArchiveInput> SomeEntries() {
  Bytes text;
  for (int i = 0; i < 40000; ++i) text.push_back(static_cast<uint8_t>("stream "[i % 7]));
  return {{"a", text}, {"b", text}, {"c", Bytes(300000, 0)}, {"d", BytesOf("d")}};
}

bool Write(bool pkg, CEntrySource& source, unsigned jobs, CArchiveSink* sink, std::string* error) {
  if (pkg) {
    PkgWriterOptions options;
    options.jobs = jobs;
    return WritePkg(source, options, sink, error);
  }
  PsarcWriterOptions options;
  options.jobs = jobs;
  return WritePsarc(source, options, sink, error);
}

TEST(ArchiveStream, WritersStopAtTheFirstFailedReadOrWrite) {
  const std::vector<ArchiveInput> entries = SomeEntries();
  for (bool pkg : {false, true}) {
    for (unsigned jobs : {1u, 2u}) {
      SCOPED_TRACE(std::string(pkg ? "pkg" : "psarc") + ", " + std::to_string(jobs) + " jobs");
      CMemoryEntries source(entries);
      CFailingSink counting(-1);
      std::string error;
      ASSERT_TRUE(Write(pkg, source, jobs, &counting, &error)) << error;
      for (int failAt : {0, counting.writes() / 2, counting.writes() - 1}) {
        CFailingSink sink(failAt);
        error.clear();
        EXPECT_FALSE(Write(pkg, source, jobs, &sink, &error)) << failAt;
        EXPECT_EQ(error, "the disk is full");
        EXPECT_EQ(sink.writes(), failAt + 1) << "no write after the failed one";
      }
      for (size_t failing = 0; failing < entries.size(); ++failing) {
        CFailingEntries shrinking(entries, failing);
        CMemorySink sink;
        error.clear();
        EXPECT_FALSE(Write(pkg, shrinking, jobs, &sink, &error));
        EXPECT_EQ(error, entries[failing].name + ": it shrank while being packed");
      }
    }
  }
}

TEST(ArchiveStream, LimitsNameWhatAnEntryBreaks) {
  struct Case {
    ArchiveLimits limits;
    std::string name;
    uint64_t size;
    const char* why;  // empty: accepted
  } cases[] = {
      {PkgLimits(), std::string(63, 'n'), 0x7FFFFFFF, ""},
      {PkgLimits(), std::string(64, 'n'), 1, "its name is 64 bytes; a PKG name holds at most 63"},
      {PkgLimits(), "big", 0x80000000ull, "it is 2 GiB or more; a PKG entry must be smaller"},
      {PkgLimits(), std::string("a\0b", 3), 1,
       "its name holds a zero byte, which a PKG name cannot hold"},
      {PkgLimits(), "a\nb", 1, ""},
      {PsarcLimits(), std::string(255, 'n'), 0x7FFFFFFF, ""},
      {PsarcLimits(), std::string(256, 'n'), 1,
       "its name is 256 bytes; a PSARC name holds at most 255"},
      {PsarcLimits(), "a\nb", 1, "its name holds a line break, which a PSARC name cannot hold"},
      {PsarcLimits(), "big", 0x80000000ull, "it is 2 GiB or more; a PSARC entry must be smaller"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EntryRefusal(c.limits, c.name, c.size), c.why) << c.name.substr(0, 8);
  }
  EXPECT_EQ(PkgLimits().archiveBytes, 0x7FFFFFFFull);
  EXPECT_EQ(PsarcLimits().archiveBytes, 1ull << 40);
}

}  // namespace
