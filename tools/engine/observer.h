// How an engine tells its caller what happens, without printing: a note of a kind about an
// entry, and progress. The command layer turns notes into messages and progress into the
// progress line; tests collect them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class NoteKind {
  kRenamed,     // an entry's name was made safe, or numbered because another has it; or
                // the leading '/' of every name was removed (once, at the first)
  kSharedName,  // entries share a name, and the existing-file rule picks one
  kSkipped,     // an existing file was left alone (--skip-existing)
  kProblem,     // the entry was not written: what stands there, a failed read or write
  kWritten,     // a file was written: the text is its path
};

class CEngineObserver {
 public:
  virtual ~CEngineObserver() = default;
  // About entry `index` of the archive; text is the whole message.
  virtual void Note(NoteKind kind, size_t index, const std::string& text) = 0;
  // Entries and bytes done so far, of the totals the engine started with.
  virtual void Progress(size_t entriesDone, uint64_t bytesDone) {
    (void)entriesDone;  // most callers show no progress
    (void)bytesDone;
  }
};
