// What varel says, and where: messages on stderr that begin "varel COMMAND: ", results on
// stdout. All of it is UTF-8 text, written through WriteText (the wide console call on a
// Windows console).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/plugin_host/entry_names.h"
#include "tools/util/format.h"

// "varel COMMAND: message" and a line break on stderr ("varel: message" without a command).
void Report(const std::string& command, const std::string& message);
// Text on stdout; false when it could not be written. A closed pipe ends the run there and
// then (EndOnClosedPipe: `varel list A | head` ends as quietly as any filter); any other
// failure is remembered for FinishOutput to report once.
bool Print(const std::string& text);
// Bytes on stdout as they are (binary mode on Windows), flushed, failing as Print does.
bool PrintBytes(const uint8_t* data, size_t n);
// At the end of a command: flushes stdout and reports, once, a write that failed ("varel
// COMMAND: cannot write to stdout: ..."); false when one did, which fails the run.
bool FinishOutput(const std::string& command);
