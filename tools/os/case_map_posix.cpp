// Case on Linux: a table of the scripts with case that everyday names use, one code point
// for one. Each row maps the capitals first, first + step, ... up to last to their small
// letters at +delta.
#include "tools/util/unicode_text.h"

namespace {

struct CaseRange {
  uint32_t first;
  uint32_t last;
  int32_t delta;
  uint32_t step;
};

const CaseRange kCaseRanges[] = {
    {0x0041, 0x005A, 32, 1},    // Basic Latin
    {0x00C0, 0x00D6, 32, 1},    // Latin-1
    {0x00D8, 0x00DE, 32, 1},    //
    {0x0100, 0x012E, 1, 2},     // Latin Extended-A, capital and small in pairs
    {0x0132, 0x0136, 1, 2},     //
    {0x0139, 0x0147, 1, 2},     //
    {0x014A, 0x0176, 1, 2},     //
    {0x0178, 0x0178, -121, 1},  // Y with diaeresis, whose small letter is in Latin-1
    {0x0179, 0x017D, 1, 2},     //
    {0x0386, 0x0386, 38, 1},    // Greek with tonos
    {0x0388, 0x038A, 37, 1},    //
    {0x038C, 0x038C, 64, 1},    //
    {0x038E, 0x038F, 63, 1},    //
    {0x0391, 0x03A1, 32, 1},    // Greek
    {0x03A3, 0x03AB, 32, 1},    //
    {0x0400, 0x040F, 80, 1},    // Cyrillic
    {0x0410, 0x042F, 32, 1},    //
    {0x0460, 0x0480, 1, 2},     //
    {0x048A, 0x04BE, 1, 2},     //
    {0x0531, 0x0556, 48, 1},    // Armenian
    {0x1E00, 0x1E94, 1, 2},     // Latin Extended Additional
    {0x1EA0, 0x1EFE, 1, 2},     //
    {0x2160, 0x216F, 16, 1},    // Roman numerals
    {0x24B6, 0x24CF, 26, 1},    // circled letters
    {0xFF21, 0xFF3A, 32, 1},    // full-width Latin
};

constexpr uint32_t kFinalSigma = 0x03C2;
constexpr uint32_t kCapitalSigma = 0x03A3;

}  // namespace

uint32_t UpperCase(uint32_t c) {
  if (c == kFinalSigma) return kCapitalSigma;  // two small letters share one capital
  for (const CaseRange& r : kCaseRanges) {
    const uint32_t capital = static_cast<uint32_t>(static_cast<int32_t>(c) - r.delta);
    if (capital >= r.first && capital <= r.last && (capital - r.first) % r.step == 0) {
      return capital;
    }
  }
  return c;
}

uint32_t LowerCase(uint32_t c) {
  for (const CaseRange& r : kCaseRanges) {
    if (c >= r.first && c <= r.last && (c - r.first) % r.step == 0) {
      return static_cast<uint32_t>(static_cast<int32_t>(c) + r.delta);
    }
  }
  return c;
}
