// Putting text on the program's streams so that a person can read it, and what the program
// needs of its terminal (cli/posix, cli/win32; the build picks one). Every text is UTF-8: the
// program's own words, paths and the system's texts alike. A Windows console shows narrow bytes
// in a code page of its own, so there the letters themselves are written; elsewhere, and when a
// stream is redirected to a file or a pipe, the UTF-8 bytes go out as they are.
#pragma once

#include <atomic>
#include <cstdio>

void WriteText(std::FILE* stream, const char* text);

// Whether what was written to the stream so far, flushed now, reached it.
bool StreamWritten(std::FILE* stream);

// Whether the stream is a terminal (a console on Windows), where a progress line can be redrawn.
bool IsTerminal(std::FILE* stream);

// Sets stop on an interrupt (Ctrl-C; SIGTERM and SIGHUP; on Windows Ctrl-Break and the console
// window closed, a logoff or a shutdown) instead of ending the process, so that the operation
// under way can stop between blocks and clean up after itself. A signal the program was started
// with ignored (nohup's SIGHUP, SIGINT of a shell's background job) stays ignored.
void StopOnInterrupt(std::atomic<bool>* stop);

// The signal that asked for the stop, 0 for none. Always 0 on Windows, where the console's
// events end the run with exit status 1, as they always have.
int InterruptSignal();
// Ends the process by that signal with its default action, so that a shell sees the program
// killed by it (130 for Ctrl-C) and a loop around it stops; returns when there was none.
void EndByInterruptSignal();
