// Putting text on the program's streams so that a person can read it, and what the program
// needs of its terminal (cli/posix, cli/win32; the build picks one). On a Windows console the
// letters themselves are written: the program's own texts are Windows-1251, while paths and
// the system's texts are in the ANSI code page, which need not be the same. Elsewhere, and
// when a stream is redirected, the bytes go out as they are.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

// text is one of the program's own texts.
void WriteText(std::FILE* stream, const char* text);
// text is a path or a text of the system's, in the ANSI code page on Windows.
void WriteSystemText(std::FILE* stream, const char* text);

// text is UTF-8: the JSON report, and the names of a folder's entries, which may hold any
// letter.
void WriteUtf8(std::FILE* stream, const char* text);
// The program's own texts and the system's, in UTF-8.
std::string OwnTextToUtf8(const char* text);
std::string SystemTextToUtf8(const char* text);

// Whether what was written to the stream so far, flushed now, reached it.
bool StreamWritten(std::FILE* stream);

// Whether the stream is a terminal (a console on Windows), where a progress line can be redrawn.
bool IsTerminal(std::FILE* stream);

// Sets stop on an interrupt (Ctrl-C; SIGTERM and SIGHUP; on Windows Ctrl-Break and the console
// window closed, a logoff or a shutdown) instead of ending the process, so that the operation
// under way can stop between blocks and clean up after itself.
void StopOnInterrupt(std::atomic<bool>* stop);

// The program's arguments as narrow paths the file calls take. On Windows they come from the
// wide command line, and an argument the ANSI code page cannot carry exactly is refused
// (1-based index in unconvertible) rather than given a look-alike's name. 0 when refused.
int ProgramArguments(int argc, char** argv, std::vector<std::string>* arguments, unsigned* unconvertible);
