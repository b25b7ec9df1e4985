// Drives real windows the way a user does: the mouse and keyboard go through the system's
// input queue (SendInput), so hit testing, capture and focus are the system's own. Every
// action pumps this thread's messages until the system has delivered its effect.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace gui {

// Dispatches this thread's messages for about ms milliseconds.
void Pump(int ms = 30);
// Dispatches messages until done() holds or timeoutMs passes; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000);

// Raw mouse events that do not pump; callable from any thread, for a test whose own thread
// is held in a system loop (a window being dragged).
void SendMouseInput(DWORD flags, LONG dx = 0, LONG dy = 0);
void SendMouseMoveTo(POINT screen);

// The mouse, in screen coordinates.
void MoveMouseTo(POINT screen);
void PressLeft();
void ReleaseLeft();
void ClickAt(POINT screen);
void DoubleClickAt(POINT screen);

// The centre of a window's rectangle, and of a field's browse button (the strip of
// buttonWidth pixels at the right end inside the frame).
POINT CentreOf(HWND window);
POINT BrowseButtonCentre(HWND field, int buttonWidth = 18);

// Presses and releases the left button over a field's browse button.
void PressBrowseButton(HWND field, int buttonWidth = 18);
// Clicks a button or radio control as the user does.
void Click(HWND control);

// Gives the field the focus by clicking into its text, selects all and types text (UTF-8)
// letter by letter; then waits until the field shows it.
void TypeInto(HWND field, const std::string& text);
// A single key press and release (a virtual-key code), to the window that has the focus.
void PressKey(WORD virtualKey);

// A window's text, and setting it, in UTF-8.
std::string TextOf(HWND window);
void SetTextOf(HWND window, const std::string& text);
// A status bar part's text.
std::string StatusText(HWND statusBar, int part);

}  // namespace gui
