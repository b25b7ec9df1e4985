// Where the dialog's words and paths meet its windows: UTF-8 inside the program, UTF-16 in every
// window call (platform/win32/wide.h), so that they read the same under any code page and a
// path is never cut or replaced by a look-alike on its way in or out of a field.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

// A window's whole text (a field holds up to 520 UTF-16 units), and setting it.
std::string WindowText(HWND window);
void SetText(HWND window, const char* text);
bool HasText(HWND window);

// (description, pattern) pairs, each zero-terminated and the list ended by one more zero, as
// the open-file chooser takes them.
std::wstring WideList(const char* list);

// A box of the dialog's own: its text and caption, with the type's buttons and icon.
int ShowBox(HWND owner, const char* text, const char* caption, UINT type);
