// What a streaming operation returned, shown as the dialog shows the same outcome of its own
// operations: the same boxes, texts and icons, owned by the dialog.
#pragma once

#include <windows.h>

#include <cstdint>

#include "stream/operations.h"

// Shows the box of a failure, of identical copies or of a stop; returns 1, showing nothing,
// when the task is done and its completion is still to be announced.
int PresentStreamResult(HWND dialog, uint32_t workMode, const StreamResult& result);
