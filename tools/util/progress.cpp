#include "tools/util/progress.h"

#include <cstdio>

#include "tools/os/console.h"

std::string FormatBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatProgress(const ProgressState& s) {
  std::string line = std::to_string(s.entriesDone) + "/" + std::to_string(s.entriesTotal) +
                     " entries, " + FormatBytes(s.bytesDone) + " of " + FormatBytes(s.bytesTotal);
  if (s.seconds > 0 && s.bytesDone > 0) {
    const double rate = static_cast<double>(s.bytesDone) / s.seconds;
    line += ", " + FormatBytes(static_cast<uint64_t>(rate)) + "/s";
    if (s.bytesTotal >= s.bytesDone) {
      const double left = static_cast<double>(s.bytesTotal - s.bytesDone) / rate;
      char text[32];
      const uint64_t secs = static_cast<uint64_t>(left + 0.5);
      if (secs < 60) {
        std::snprintf(text, sizeof(text), ", %us left", static_cast<unsigned>(secs));
      } else {
        std::snprintf(text, sizeof(text), ", %um%02us left", static_cast<unsigned>(secs / 60),
                      static_cast<unsigned>(secs % 60));
      }
      line += text;
    }
  }
  return line;
}

CProgress* CProgress::shown_ = nullptr;

void CProgress::ClearShownLine() {
  if (shown_ != nullptr) shown_->Finish();
}

CProgress::CProgress(bool enabled, uint64_t entriesTotal, uint64_t bytesTotal)
    : enabled_(enabled), start_(Clock::now()), lastDraw_(start_) {
  state_.entriesTotal = entriesTotal;
  state_.bytesTotal = bytesTotal;
}

void CProgress::Update(uint64_t entriesDone, uint64_t bytesDone) {
  state_.entriesDone = entriesDone;
  state_.bytesDone = bytesDone;
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - start_ < std::chrono::seconds(1)) return;
  if (drawnWidth_ != 0 && now - lastDraw_ < std::chrono::milliseconds(200)) return;
  lastDraw_ = now;
  state_.seconds = std::chrono::duration<double>(now - start_).count();
  const std::string line = FormatProgress(state_);
  // Pad over a longer previous line.
  const size_t pad = drawnWidth_ > line.size() ? drawnWidth_ - line.size() : 0;
  WriteText(stderr, "\r" + line + std::string(pad, ' '));
  drawnWidth_ = line.size() + pad;
  shown_ = this;
}

void CProgress::Finish() {
  if (drawnWidth_ == 0) return;
  WriteText(stderr, "\r" + std::string(drawnWidth_, ' ') + "\r");
  drawnWidth_ = 0;
  if (shown_ == this) shown_ = nullptr;
}
