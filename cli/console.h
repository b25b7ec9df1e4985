// Putting the program's text on a stream so that a person can read it: bytes as they are
// where the text is already in the stream's encoding, the letters themselves on a Windows
// console (cli/posix, cli/win32; the build picks one).
#pragma once

#include <cstdio>

// text is in the program's narrow encoding: UTF-8, or the ANSI code page on Windows.
void WriteText(std::FILE* stream, const char* text);
