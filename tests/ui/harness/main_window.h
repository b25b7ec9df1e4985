// The program's real dialog (resource 1000 with its procedure), opened inside the test
// process so that a test can drive it and look at the program's state.
#pragma once

#include <windows.h>

#include <functional>

namespace gui {

// Opens the dialog modeless, as the user first sees it, in the foreground. Resets the
// program's state first, as a fresh process would have it.
HWND OpenMainDialog();
void CloseMainDialog(HWND dialog);

// Runs the dialog modally, as the program does, and calls script with it once it is up and
// idle; returns what the dialog ended with. The script runs inside the dialog's own loop.
INT_PTR RunMainDialogModal(const std::function<void(HWND dialog)>& script);

}  // namespace gui
