// Text for people and scripts on stdout and stderr. Text inside varel is UTF-8: on a Windows
// console it is shown through the wide console call, whatever the console's code page;
// anywhere else (a file, a pipe, any Linux terminal) it goes out as UTF-8 bytes.
#pragma once

#include <cstdio>
#include <string>

// Writes text to stream (stdout or stderr); false when it could not be written.
bool WriteText(FILE* stream, const std::string& text);
// True when stream (stdout or stderr) is a terminal: on Windows a console.
bool IsTerminal(FILE* stream);
// Makes stream write bytes as they are given (on Windows, no line-end translation).
void SetBinaryOutput(FILE* stream);
