// The status bar's two parts: the state of the work on the left, the mode on the right.
#pragma once

enum StatusPart { kStatePart = 0, kModePart = 1 };

void SetStatus(StatusPart part, const char* text);
