// Files and folders dropped onto the dialog from Explorer: the first one dropped goes into
// the field it was dropped onto, and a field of another mode brings its mode with it.
#pragma once

#include <windows.h>

// On WM_DROPFILES. Releases the drop in every case.
void TakeDroppedPath(HWND dialog, HDROP drop);
