// Window texts through the wide calls.
#include "ui/window_text.h"

#include <cstring>
#include <vector>

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::string();
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, text.data(), length + 1);
  return Utf8(text.data(), static_cast<size_t>(got > 0 ? got : 0));
}

void SetText(HWND window, const char* text) { SetWindowTextW(window, Wide(text).c_str()); }

bool HasText(HWND window) { return GetWindowTextLengthW(window) != 0; }

std::wstring WideList(const char* list) {
  std::wstring wide;
  for (const char* item = list; *item != '\0'; item += std::strlen(item) + 1) {
    wide += Wide(item);
    wide += L'\0';
  }
  wide += L'\0';
  return wide;
}

int ShowBox(HWND owner, const char* text, const char* caption, UINT type) {
  return MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), type);
}
