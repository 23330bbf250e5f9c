// The progress line a long extraction shows on a terminal: entries and bytes done, the
// rate and the time left, redrawn in place on stderr.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// "1.5 MiB", "312 B", "12.0 KiB": sizes for people (binary units, one decimal).
std::string FormatBytes(uint64_t bytes);

struct ProgressState {
  uint64_t entriesDone = 0;
  uint64_t entriesTotal = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
  double seconds = 0;  // since the work began
};
// "12/40 entries, 3.0 MiB of 9.5 MiB, 1.2 MiB/s, 6s left".
std::string FormatProgress(const ProgressState& state);

// Shown only when enabled (stderr is a terminal, IsTerminal, and not --quiet) and only once the
// work has run for about a second; redrawn at most five times a second.
class CProgress {
 public:
  CProgress(bool enabled, uint64_t entriesTotal, uint64_t bytesTotal);
  ~CProgress() { Finish(); }
  CProgress(const CProgress&) = delete;
  CProgress& operator=(const CProgress&) = delete;

  void Update(uint64_t entriesDone, uint64_t bytesDone);
  // Clears the line, if one was drawn, so that later messages start on a clean line.
  void Finish();
  // Clears the line of the progress being shown, if any: whatever writes a message calls
  // this first. The next Update draws the line again.
  static void ClearShownLine();

 private:
  typedef std::chrono::steady_clock Clock;
  bool enabled_;
  ProgressState state_;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
  size_t drawnWidth_ = 0;
  static CProgress* shown_;  // the progress whose line is on the terminal
};
