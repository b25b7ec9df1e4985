// Files another program holds open: which of Windows' errors say so, and how long to wait
// before each new try. A virus scanner holds a new file for a moment, an editor holds a
// workbook until it is closed; growing pauses let the first pass unnoticed and give up on the
// second within seconds. The backend waits; this decides.
#pragma once

#include <cstdint>

// At most this long for one entry (a file's open and reads), and for a whole run.
inline constexpr uint32_t kHeldEntryWaitMs = 10000;
inline constexpr uint32_t kHeldRunWaitMs = 60000;

// Windows' sharing violation (at an open) and lock violation (at an open or a read): the
// file is free again once the other program lets go. A virus found or removed (225, 226),
// and everything else, is final.
bool IsHeldError(uint32_t windowsError);

// The pause before try number tries + 1 (tries made so far, 1 or more), after waiting
// entryWaitedMs for this entry and runWaitedMs in the whole run; 0: give up.
uint32_t HeldFilePause(uint32_t tries, uint32_t entryWaitedMs, uint32_t runWaitedMs);
