// One catcher at a time: the timer procedure finds it through a file-level pointer.
#include "tests/ui/harness/box_catcher.h"

#include <algorithm>

#include "platform/win32/wide.h"

namespace gui {

namespace {

BoxCatcher* active = nullptr;

// The message box's text control, and its icon: id 20 on Windows, 0x440 on Wine.
constexpr int kBoxTextId = 0xFFFF;
constexpr int kBoxIconIds[] = {20, 0x440};

BoxIcon IconOf(HWND box) {
  for (int id : kBoxIconIds) {
    HWND control = GetDlgItem(box, id);
    if (control == nullptr || !IsWindowVisible(control)) continue;
    const HICON icon = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
    if (icon == nullptr) continue;
    if (icon == LoadIconA(nullptr, IDI_HAND)) return BoxIcon::Error;
    if (icon == LoadIconA(nullptr, IDI_ASTERISK)) return BoxIcon::Information;
    if (icon == LoadIconA(nullptr, IDI_EXCLAMATION)) return BoxIcon::Warning;
    if (icon == LoadIconA(nullptr, IDI_QUESTION)) return BoxIcon::Question;
    return BoxIcon::Other;
  }
  return BoxIcon::None;
}

bool Contains(const std::vector<HWND>& list, HWND window) {
  return std::find(list.begin(), list.end(), window) != list.end();
}

}  // namespace

bool IsMessageBox(HWND window) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  return lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, kBoxTextId) != nullptr;
}

BoxCatcher::BoxCatcher() {
  active = this;
  timer_ = SetTimer(nullptr, 0, 25, &BoxCatcher::Tick);
}

BoxCatcher::~BoxCatcher() {
  KillTimer(nullptr, timer_);
  active = nullptr;
}

void CALLBACK BoxCatcher::Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (active != nullptr) active->Scan();
}

void BoxCatcher::Scan() {
  // A handler that pumps messages would run the timer again inside itself.
  if (inside_) return;
  inside_ = true;
  std::vector<HWND> windows;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM list) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    if (!IsWindowVisible(window) || Contains(handled_, window) || Contains(ignored_, window)) continue;
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") != 0) continue;
    // Only modal windows are ours to answer: their owner is disabled while they are up.
    HWND owner = GetWindow(window, GW_OWNER);
    if (IsMessageBox(window)) {
      // As the user reads them, whatever the code page: through the wide calls, in UTF-8.
      wchar_t buffer[4096] = {};
      SeenBox seen{};
      seen.owner = owner;
      int units = GetWindowTextW(window, buffer, 4096);
      seen.caption = Utf8(buffer, static_cast<size_t>(units > 0 ? units : 0));
      units = static_cast<int>(GetDlgItemTextW(window, kBoxTextId, buffer, 4096));
      seen.text = Utf8(buffer, static_cast<size_t>(units > 0 ? units : 0));
      seen.icon = IconOf(window);
      seen.ownerDisabled = owner != nullptr && !IsWindowEnabled(owner);
      boxes_.push_back(seen);
      handled_.push_back(window);
      if (whileOpen) whileOpen(window, seen);
      HWND button = GetDlgItem(window, answer);
      if (button != nullptr) {
        PostMessageW(button, BM_CLICK, 0, 0);
      } else {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
      }
    } else if (owner != nullptr && onOtherDialog) {
      if (onOtherDialog(window)) handled_.push_back(window);
    }
  }
  inside_ = false;
}

}  // namespace gui
