// Message boxes through MessageBoxA, unless the linking program diverts them.
#include <windows.h>

#include "platform/platform.h"

namespace {
MessageBoxSink installedSink = nullptr;
}

void InstallMessageBoxSink(MessageBoxSink sink) { installedSink = sink; }

int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned type) {
  if (installedSink != nullptr) return installedSink(owner, text, caption, type);
  return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}
