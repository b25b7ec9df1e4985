// The scale through the functions of later systems where they exist.
#include "ui/dpi.h"

namespace {

template <typename Function>
Function UserFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

UINT DpiOf(HWND window) {
  using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = UserFunction<GetDpiForWindowCall>("GetDpiForWindow");
  if (getDpiForWindow != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return dpi;
  }
  HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(window, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

bool SystemScalesDialogs(HWND dialog) {
  using GetContextCall = DPI_AWARENESS_CONTEXT(WINAPI*)(HWND);
  using EqualCall = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);
  static const auto getContext = UserFunction<GetContextCall>("GetWindowDpiAwarenessContext");
  static const auto equal = UserFunction<EqualCall>("AreDpiAwarenessContextsEqual");
  return getContext != nullptr && equal != nullptr &&
         equal(getContext(dialog), DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE;
}
