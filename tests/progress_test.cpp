// The progress line of long extractions.
#include <gtest/gtest.h>

#include "tools/util/progress.h"

namespace {

TEST(Progress, LineSaysWhatIsDoneAndWhatIsLeft) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(3u << 20), "3.0 MiB");
  ProgressState s;
  s.entriesDone = 3;
  s.entriesTotal = 10;
  s.bytesDone = 2u << 20;
  s.bytesTotal = 6u << 20;
  s.seconds = 2;
  EXPECT_EQ(FormatProgress(s), "3/10 entries, 2.0 MiB of 6.0 MiB, 1.0 MiB/s, 4s left");
  s.bytesDone = 1u << 20;
  s.bytesTotal = 200u << 20;
  EXPECT_EQ(FormatProgress(s), "3/10 entries, 1.0 MiB of 200.0 MiB, 512.0 KiB/s, 6m38s left");
  s.seconds = 0;  // no rate before any time has passed
  EXPECT_EQ(FormatProgress(s), "3/10 entries, 1.0 MiB of 200.0 MiB");
}

}  // namespace
