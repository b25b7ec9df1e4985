// Showing a failed call to the system: the caller's message as the caption, the system's text
// for its error code as the body, with the error icon.
#pragma once

#include <cstdint>

#include "platform/platform.h"

void ReportSystemError(WindowHandle owner, const char* message, uint32_t code);
