// Runs a program and collects what it wrote and how it ended; the end-to-end tests drive
// the real varel binary with it. stdout and stderr go to temporary files (no pipes, so a
// chatty child never blocks), stdin is empty, unless ProcessStreams says otherwise.
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

// What a child's stdin reads and where its stdout goes, when not the defaults.
struct ProcessStreams {
  // stdin: a pipe that delivers input (written by a thread of the caller), then ends.
  bool pipeInput = false;
  std::string input;
  enum class Output {
    kCaptured,    // into ProcessResult::out
    kClosedPipe,  // a pipe whose reading end is closed before the child starts
    kFailing,     // every write fails, and not as a closed pipe: /dev/full on Linux, a
                  // handle without write access on Windows
  };
  Output output = Output::kCaptured;
};

// Runs program (a path, not searched for) with args, in workingFolder when it is not empty.
// A child killed by a signal gives exit code 128 + the signal, as a shell reports it.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder = std::string(),
                         const ProcessStreams& streams = ProcessStreams());

// The bytes a child wrote into the file at path ("" when it cannot be read).
std::string ReadCapturedOutput(const std::string& path);

// Quotes one argument for a Windows command line so that the C runtime's parser gives it
// back unchanged.
std::string QuoteWindowsArgument(const std::string& arg);
