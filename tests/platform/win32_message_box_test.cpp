// The real error box under Windows (Wine with a display): ReportSystemError shows the
// system's text as the body and the caller's message as the caption, with the error icon,
// modal to its owner. A watcher thread reads the box as the user sees it and presses OK.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/win32/wide.h"
#include "ui/report_system_error.h"

namespace {

struct SeenBox {
  bool found = false;
  std::string caption;
  std::string text;
  bool hasIcon = false;
  bool ownerDisabled = false;
};

// Waits for the box owned by owner, reads it, then closes it with OK.
SeenBox WatchForBox(HWND owner) {
  SeenBox seen;
  for (int attempt = 0; attempt < 200 && !seen.found; ++attempt) {
    HWND box = FindWindowA("#32770", nullptr);
    if (box == nullptr || GetWindow(box, GW_OWNER) != owner) {
      Sleep(50);
      continue;
    }
    wchar_t buffer[512] = {};
    int units = GetWindowTextW(box, buffer, 512);
    seen.caption = Utf8(buffer, static_cast<size_t>(units > 0 ? units : 0));
    units = static_cast<int>(GetDlgItemTextW(box, 0xFFFF, buffer, 512));
    seen.text = Utf8(buffer, static_cast<size_t>(units > 0 ? units : 0));
    // The icon's static control: id 20 on Windows, 0x440 on Wine.
    for (int id : {20, 0x440}) {
      HWND icon = GetDlgItem(box, id);
      if (icon != nullptr && IsWindowVisible(icon) && SendMessageA(icon, STM_GETICON, 0, 0) != 0) seen.hasIcon = true;
    }
    seen.ownerDisabled = !IsWindowEnabled(owner);
    seen.found = true;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return seen;
}

// Reports the error code under message with a real owner window, and reads the box shown.
SeenBox ReportAndWatch(uint32_t code, const char* message) {
  InstallMessageBoxSink(nullptr);
  HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
  if (owner == nullptr) return SeenBox{};
  SeenBox seen;
  std::thread watcher([&] { seen = WatchForBox(owner); });
  ReportSystemError(owner, message, code);
  watcher.join();
  DestroyWindow(owner);
  return seen;
}

TEST(Win32MessageBoxTest, ReportSystemErrorShowsTheSystemTextUnderTheCallersCaption) {
  const SeenBox seen = ReportAndWatch(ERROR_FILE_NOT_FOUND, "Не удалось открыть битый файл.");
  ASSERT_TRUE(seen.found) << "no message box appeared";
  EXPECT_EQ(seen.caption, "Не удалось открыть битый файл.");
  char* expected = DescribeSystemError(ERROR_FILE_NOT_FOUND);
  ASSERT_NE(expected, nullptr);
  // Shown exactly as the system delivers it, closing line break included.
  EXPECT_EQ(seen.text, expected);
  EXPECT_EQ(seen.text.substr(seen.text.size() - 2), "\r\n");
  FreeSystemErrorText(expected);
  EXPECT_TRUE(seen.hasIcon);
  EXPECT_TRUE(seen.ownerDisabled) << "the box must be modal to its owner";
}

TEST(Win32MessageBoxTest, ACodeWithoutSystemTextStillShowsTheCaption) {
  const SeenBox seen = ReportAndWatch(0xE0001234, "Не удалось создать новый файл.");
  ASSERT_TRUE(seen.found) << "no message box appeared";
  EXPECT_EQ(seen.caption, "Не удалось создать новый файл.");
  EXPECT_EQ(seen.text, "");
}

}  // namespace
