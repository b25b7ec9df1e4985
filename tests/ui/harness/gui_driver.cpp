// Real input through SendInput; the pointer is put exactly where asked, since absolute
// coordinates are scaled to 0..65535 and can land a pixel off.
#include "tests/ui/harness/gui_driver.h"

#include <commctrl.h>

#include <vector>

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
  char className[16] = {};
  GetClassNameA(root, className, sizeof className);
  return lstrcmpA(className, "#32770") == 0 && IsDialogMessageA(root, msg);
}

}  // namespace

void Pump(int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (IsDialogKey(&msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
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
  SendMessageA(field, EM_SETSEL, 0, -1);
  std::vector<wchar_t> wide(text.size() + 1);
  const int count = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), wide.data(),
                                        static_cast<int>(wide.size()));
  if (text.empty()) {
    PressKey(VK_DELETE);
  }
  for (int i = 0; i < count; ++i) {
    SendKey(0, wide[i], KEYEVENTF_UNICODE);
    SendKey(0, wide[i], KEYEVENTF_UNICODE | KEYEVENTF_KEYUP);
    if (i % 16 == 15) Pump(1);
  }
  PumpUntil([&] { return TextOf(field) == text; }, 2000);
}

std::string TextOf(HWND window) {
  char buffer[1024] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

std::string StatusText(HWND statusBar, int part) {
  const LRESULT length = SendMessageA(statusBar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0);
  std::string text(LOWORD(length) + 1, '\0');
  SendMessageA(statusBar, SB_GETTEXTA, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text.data()));
  text.resize(LOWORD(length));
  return text;
}

}  // namespace gui
