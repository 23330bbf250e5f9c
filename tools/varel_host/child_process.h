// Runs a program and collects what it wrote and how it ended; the end-to-end tests drive
// the real varel binary with it. stdout and stderr go to temporary files (no pipes, so a
// chatty child never blocks), stdin is empty.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  bool started = false;
  int exitCode = -1;
  std::string out;
  std::string err;
  std::string error;  // why the program could not be run
};

// Runs program (a path, not searched for) with args, in workingFolder when it is not empty.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder = std::string());

// The bytes a child wrote into the file at path ("" when it cannot be read).
std::string ReadCapturedOutput(const std::string& path);

// Quotes one argument for a Windows command line so that the C runtime's parser gives it
// back unchanged.
std::string QuoteWindowsArgument(const std::string& arg);
