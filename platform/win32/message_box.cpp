// Message boxes through MessageBoxW, unless the linking program diverts them: the texts are
// UTF-8 and read the same under every code page.
#include <windows.h>

#include <new>

#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace {
MessageBoxSink installedSink = nullptr;
}

void InstallMessageBoxSink(MessageBoxSink sink) { installedSink = sink; }

int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned type) {
  if (installedSink != nullptr) return installedSink(owner, text, caption, type);
  try {
    return MessageBoxW(static_cast<HWND>(owner), Wide(text).c_str(), Wide(caption).c_str(), type);
  } catch (const std::bad_alloc&) {
    // Without memory for the words the box still appears, and its buttons still answer.
    return MessageBoxW(static_cast<HWND>(owner), L"", L"", type);
  }
}
