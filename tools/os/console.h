// Text for people and scripts on stdout and stderr. Text inside varel is UTF-8: on a Windows
// console it is shown through the wide console call, whatever the console's code page;
// anywhere else (a file, a pipe, any Linux terminal) it goes out as UTF-8 bytes.
#pragma once

#include <cstdio>
#include <string>

// Writes text to stream (stdout or stderr); false when it could not be written.
bool WriteText(FILE* stream, const std::string& text);
// True when stream (stdin, stdout or stderr) is a terminal: on Windows a console.
bool IsTerminal(FILE* stream);
// Bytes written to stream go out unchanged (on Windows no LF to CR LF; a no-op on Linux).
void SetBinaryMode(FILE* stream);
// After a write to stdout failed, with error the errno the failing call left: true when
// stdout is a pipe whose reader has gone. (On Windows any failed write to a pipe: the C
// runtime reports a closed pipe under more than one errno.)
bool IsClosedPipe(int error);
