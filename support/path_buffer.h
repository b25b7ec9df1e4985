// Paths travel in 520-byte buffers of ANSI text: at most 519 characters and a zero.
#pragma once

#include <cstdint>

inline constexpr uint32_t kPathBufferSize = 520;

// Zeroes the buffer and copies text into it. A text that does not fit is refused, with the
// system's "name too long" as the last error, rather than cut to a different name.
int PutPathIntoBuffer(char* buffer, const char* text);
