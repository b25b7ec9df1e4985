// The dialog's own pixel sizes at the scale of its monitor. The manifest declares the program
// aware of every monitor's scale, so the system no longer stretches its window as a picture:
// what the dialog measures in pixels itself (the status bar's mode part, the browse buttons)
// follows the scale here. Functions newer than Windows 7 are looked up at run time, so that the
// program still starts there.
#pragma once

#include <windows.h>

// The window's dots per inch: its monitor's (Windows 10 1607 on), else the system's.
UINT DpiOf(HWND window);

// A size given in pixels at 96 dots per inch, at dpi.
int Scaled(int pixels, UINT dpi);

// Whether the dialog manager rescales the dialog itself when it moves to a monitor of another
// scale: per-monitor awareness version 2 (Windows 10 1703 on).
bool SystemScalesDialogs(HWND dialog);
