// Temporary files that an interrupted run removes before it ends: on Ctrl-C, a hang-up of
// the terminal or a termination request on Linux (SIGINT, SIGHUP, SIGTERM), and on Windows
// Ctrl-C, Ctrl-Break, closing the console window, logging off or shutting down. The run
// then ends as it would have without a handler (killed by the signal, or the system's
// default handler). COutputFile watches every temporary file it creates.
#pragma once

#include <string>

// Starts watching path, a temporary file about to be made (installing the handlers on first
// use): every file a run holds at once is watched, however many. Returns a ticket for
// Unwatch, or -1 when the file must not be made: an interrupt is under way
// (InterruptUnderWay), memory ran out, or the path's removal form is longer than 4096
// UTF-16 units. After a ticket, MakingDone once the attempt to make the file has ended.
//
// A handler may run on another thread (or stop this one) at any moment; the slots, the
// handler's flag and the count of files being made are sequentially consistent. A maker
// counts itself in before it looks at the flag, and a handler sets the flag before it looks
// at the count and waits (a little while at most) for the makers in flight, then removes
// what the slots hold: so either the maker sees the flag and makes nothing, or the handler
// waits for its file to exist before removing it. A handler that stops the very thread that
// is making a file stops waiting after a moment: that file is removed if it exists, and
// is never made if not. No file is left behind.
int WatchTemporaryFile(const std::string& path);
void MakingDone();
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
