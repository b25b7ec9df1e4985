// Paths travel in UTF-8 in buffers of fixed size. A path has at most 519 UTF-16 units, as
// Windows and the dialog's fields count them (a field holds 520, one more, so that a longer
// text is refused rather than cut); a unit takes at most three bytes of UTF-8.
#pragma once

#include <cstdint>

#include "platform/platform.h"

inline constexpr uint32_t kFieldUnits = 520;
inline constexpr uint32_t kLongestPathUnits = kFieldUnits - 1;
// Any field's whole text and its zero.
inline constexpr uint32_t kPathBufferSize = 3 * kFieldUnits + 1;

// Zeroes the buffer and copies text into it. A text longer than a path may be is refused, as
// the system's "name too long", rather than cut to a different name.
SystemError PutPathIntoBuffer(char* buffer, const char* text);
