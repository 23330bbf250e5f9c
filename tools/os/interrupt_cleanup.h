// Temporary files that an interrupted run removes before it ends: on Ctrl-C, a hang-up of
// the terminal or a termination request on Linux (SIGINT, SIGHUP, SIGTERM), and on Windows
// Ctrl-C, Ctrl-Break, closing the console window, logging off or shutting down. The run
// then ends as it would have without a handler (killed by the signal, or the system's
// default handler). COutputFile watches every temporary file it creates.
#pragma once

#include <string>

// Starts watching path (installing the handlers on first use). Returns a ticket for
// Unwatch, or -1 when every slot is taken (the file is then left unwatched).
//
// A file is watched before it is made, and given up when an interrupt is under way once it
// is made: the handler may stop the very thread that makes it (the file is then never
// made), or run on another thread before or after it is made. Both the handler's flag and
// the slots are sequentially consistent, so either the handler sees the slot armed or the
// maker sees the flag, and no file is left behind.
int WatchTemporaryFile(const std::string& path);
// True once a handler has begun removing the watched files.
bool InterruptUnderWay();
// Stops watching: the file was renamed into place or removed.
void UnwatchTemporaryFile(int ticket);

// Removes every watched file, for a caller that ends the run itself.
void RemoveWatchedFiles();
// What the handlers do: the same, once InterruptUnderWay says so.
void RemoveWatchedFilesForTheEnd();

// Ends the run the way a program whose output pipe was closed ends (`varel cat A X | head`):
// removes every watched file, then, on Linux, dies by SIGPIPE (status 141 in a shell), as
// a program that had not ignored the signal would; on Windows, which has no such signal,
// exits with status 1. Nothing is printed: the reader chose to stop reading.
[[noreturn]] void EndOnClosedPipe();
