// Real input through SendInput; the pointer is put exactly where asked, since absolute
// coordinates are scaled to 0..65535 and can land a pixel off.
#include "tests/ui/harness/gui_driver.h"

#include <commctrl.h>

#include <vector>

#include "platform/win32/wide.h"

namespace gui {

void SendMouseInput(DWORD flags, LONG dx, LONG dy) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = dx;
  input.mi.dy = dy;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}

void SendMouseMoveTo(POINT screen) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  SendMouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, MulDiv(screen.x, 65535, width - 1),
                 MulDiv(screen.y, 65535, height - 1));
}

namespace {

void SendKey(WORD virtualKey, WORD scan, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = scan;
  input.ki.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}

// A modeless dialog's keys (Tab, Enter, Escape) need the dialog manager, as in a program's
// own loop.
bool IsDialogKey(MSG* msg) {
  HWND root = msg->hwnd != nullptr ? GetAncestor(msg->hwnd, GA_ROOT) : nullptr;
  if (root == nullptr) return false;
  wchar_t className[16] = {};
  GetClassNameW(root, className, 16);
  return lstrcmpW(className, L"#32770") == 0 && IsDialogMessageW(root, msg);
}

}  // namespace

void Pump(int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  do {
    MSG msg;
    // The wide calls, as the program's own loops use them: a narrow loop would take every typed
    // letter through the ANSI code page.
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (IsDialogKey(&msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(1);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
  while (!done()) {
    if (static_cast<LONG>(end - GetTickCount()) <= 0) return done();
    Pump(5);
  }
  return true;
}

void MoveMouseTo(POINT screen) {
  SendMouseMoveTo(screen);
  Pump(10);
  POINT now;
  GetCursorPos(&now);
  if (now.x != screen.x || now.y != screen.y) {
    SetCursorPos(screen.x, screen.y);
  }
  Pump(20);
}

void PressLeft() {
  SendMouseInput(MOUSEEVENTF_LEFTDOWN);
  Pump(30);
}

void ReleaseLeft() {
  SendMouseInput(MOUSEEVENTF_LEFTUP);
  Pump(30);
}

void ClickAt(POINT screen) {
  MoveMouseTo(screen);
  PressLeft();
  ReleaseLeft();
}

void DoubleClickAt(POINT screen) {
  MoveMouseTo(screen);
  // Both presses inside the double-click time, with no pumping between them that could let
  // the time run out.
  SendMouseInput(MOUSEEVENTF_LEFTDOWN);
  SendMouseInput(MOUSEEVENTF_LEFTUP);
  SendMouseInput(MOUSEEVENTF_LEFTDOWN);
  SendMouseInput(MOUSEEVENTF_LEFTUP);
  Pump(60);
}

POINT CentreOf(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

POINT BrowseButtonCentre(HWND field, int buttonWidth) {
  RECT window;
  GetWindowRect(field, &window);
  RECT client;
  GetClientRect(field, &client);
  POINT clientRight{client.right, client.bottom / 2};
  ClientToScreen(field, &clientRight);
  // The button fills the strip right of the narrowed client area.
  return POINT{clientRight.x + buttonWidth / 2, clientRight.y};
}

void PressBrowseButton(HWND field, int buttonWidth) { ClickAt(BrowseButtonCentre(field, buttonWidth)); }

void Click(HWND control) { ClickAt(CentreOf(control)); }

void PressKey(WORD virtualKey) {
  SendKey(virtualKey, 0, 0);
  SendKey(virtualKey, 0, KEYEVENTF_KEYUP);
  Pump(30);
}

void TypeInto(HWND field, const std::string& text) {
  RECT client;
  GetClientRect(field, &client);
  POINT inside{4, client.bottom / 2};
  ClientToScreen(field, &inside);
  ClickAt(inside);
  SendMessageW(field, EM_SETSEL, 0, -1);
  const std::wstring wide = Wide(text.c_str());
  if (text.empty()) {
    PressKey(VK_DELETE);
  }
  for (size_t i = 0; i < wide.size(); ++i) {
    SendKey(0, wide[i], KEYEVENTF_UNICODE);
    SendKey(0, wide[i], KEYEVENTF_UNICODE | KEYEVENTF_KEYUP);
    if (i % 16 == 15) Pump(1);
  }
  PumpUntil([&] { return TextOf(field) == text; }, 2000);
}

std::string TextOf(HWND window) {
  wchar_t buffer[1024] = {};
  const int units = GetWindowTextW(window, buffer, 1024);
  return Utf8(buffer, static_cast<size_t>(units > 0 ? units : 0));
}

void SetTextOf(HWND window, const std::string& text) { SetWindowTextW(window, Wide(text.c_str()).c_str()); }

std::string StatusText(HWND statusBar, int part) {
  const LRESULT length = SendMessageW(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0);
  std::wstring text(LOWORD(length) + 1, L'\0');
  SendMessageW(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text.data()));
  return Utf8(text.data(), LOWORD(length));
}

}  // namespace gui
