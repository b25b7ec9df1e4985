// Without a window system a message box becomes a line on standard error, unless the
// linking program diverts it.
#include <cstdio>

#include "platform/platform.h"

namespace {
MessageBoxSink installedSink = nullptr;
}

void InstallMessageBoxSink(MessageBoxSink sink) { installedSink = sink; }

int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned type) {
  if (installedSink != nullptr) return installedSink(owner, text, caption, type);
  std::fprintf(stderr, "%s: %s\n", caption, text);
  return 1;
}
