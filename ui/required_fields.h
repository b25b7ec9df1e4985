// Before Start runs an operation, every path field of the mode must hold text. Empty fields
// are flagged white on red while a box asks the user to fill them.
#pragma once

#include <windows.h>

// Examines the given fields in order (a null field is skipped). Returns 1 when none is empty;
// otherwise flags the empty ones, shows the box, unflags them again and returns 0.
int CheckRequiredFields(HWND dialog, HWND first, HWND second, HWND third);

// The dialog's answer to WM_CTLCOLOREDIT: the red brush, with white text on red, for a
// flagged edit; 0 (the default colours) for any other.
LRESULT RequiredFieldColours(HDC dc, HWND edit);
