// Showing a failed platform call: the caller's message as the caption, the system's text
// for the last error as the body, with the error icon.
#pragma once

#include "platform/platform.h"

// Call it straight after the failing call, before releasing anything, while the last
// error is still that of the failure.
void ReportSystemError(WindowHandle owner, const char* message);
