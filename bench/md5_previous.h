// The MD5 the writers computed before the plug-in needed one, kept as a baseline: its
// constants computed with sin() on first use, the padded message built in a vector.
#pragma once

#include <cstdint>
#include <string>

void PreviousMd5(const std::string& message, uint8_t digest[16]);
