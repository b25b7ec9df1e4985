// The program's one window: a modal dialog with the three work modes, the six path fields,
// Start and Close, and a two-part status bar.
#pragma once

#include <windows.h>

// The start-up values: the words of the user's display language, the module, the icon and the
// two cursors.
void TakeStartUpValues();

// The dialog procedure of dialog resource 1000.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
