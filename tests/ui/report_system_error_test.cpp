// Failed platform calls shown as an error box: the caller's message as caption, the
// system's own text for the thread's last error as body.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#endif

#include "ui/report_system_error.h"
#include "tests/testing/box_recorder.h"
#include "tests/testing/engine_test.h"

namespace {

// The system's text for a code, asked for here without going through the platform layer.
std::string SystemsOwnText(uint32_t code) {
#ifdef _WIN32
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
                                      nullptr);
  if (length == 0) return "";
  std::string copy = Utf8(text, length);
  LocalFree(text);
  return copy;
#else
  return std::strerror(static_cast<int>(code));
#endif
}

WindowHandle Window(uintptr_t value) { return reinterpret_cast<WindowHandle>(value); }

class ReportSystemErrorTest : public EngineTest {};

struct ReportCase {
  SystemErrorKind kind;
  const char* caption;
  uintptr_t owner;
};

TEST_F(ReportSystemErrorTest, ShowsTheTextOfTheErrorAsBodyAndTheMessageAsCaption) {
  const ReportCase cases[] = {
      {SystemErrorKind::FileNotFound, "Не удалось открыть битый файл.", 0x1000},
      {SystemErrorKind::AccessDenied, "Не удалось создать новый файл.", 0x2468},
      {SystemErrorKind::DiskFull, "Не удалось произвести запись в новый файл.", 0},
      {SystemErrorKind::FileNotFound, "Не удалось открыть битый файл.", 0x1000},
  };
  // One call after another: each box carries the code given to its own call.
  for (const ReportCase& c : cases) {
    StartRecordingBoxes();
    const uint32_t code = SystemErrorCode(c.kind);
    const std::string expected = SystemsOwnText(code);
    ASSERT_FALSE(expected.empty()) << code;
    ReportSystemError(Window(c.owner), c.caption, code);

    ASSERT_EQ(RecordedBoxes().size(), 1u) << code;
    const RecordedBox& box = RecordedBoxes()[0];
    EXPECT_EQ(box.text, expected) << code;
    EXPECT_EQ(box.caption, c.caption) << code;
    EXPECT_EQ(box.type, 0x10u) << code;
    EXPECT_EQ(box.owner, Window(c.owner)) << code;
  }
}

#ifdef _WIN32

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

TEST_F(ReportSystemErrorTest, KeepsTheSystemsClosingLineBreak) {
  ReportSystemError(owner(), "Не удалось открыть битый файл.", ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RecordedBoxes().size(), 1u);
  const std::string& text = RecordedBoxes()[0].text;
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(ReportSystemErrorTest, ShowsOnlyTheCaptionForACodeWithoutText) {
  constexpr uint32_t kNoText = 0xE0001234;
  char* untouched = nullptr;
  ASSERT_EQ(FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, kNoText,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&untouched), 0, nullptr),
            0u);
  ReportSystemError(owner(), "Не удалось узнать размер битого файла.", kNoText);
  ExpectErrorBox("Не удалось узнать размер битого файла.", kNoText);
  EXPECT_EQ(RecordedBoxes()[0].text, "");
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

// Busy blocks of the process heap, where the system allocates its texts.
size_t BusyHeapBlocks() {
  HANDLE heap = GetProcessHeap();
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry{};
  size_t busy = 0;
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
  }
  HeapUnlock(heap);
  return busy;
}

TEST_F(ReportSystemErrorTest, FreesTheSystemsText) {
  constexpr int kReports = 200;
  const auto report = [this] {
    StartRecordingBoxes();
    ReportSystemError(owner(), "Не удалось открыть битый файл.", ERROR_ACCESS_DENIED);
  };
  report();  // the recorder's own storage settles first
  const size_t before = BusyHeapBlocks();
  for (int i = 0; i < kReports; ++i) report();
  EXPECT_LT(BusyHeapBlocks(), before + kReports / 4);
}

TEST_F(ReportSystemErrorTest, SpeaksTheUsersLanguage) {
  if (!RunningUnderWine() && GetACP() != 1251) GTEST_SKIP() << "needs a Russian system";
  ASSERT_EQ(GetACP(), 1251u);
  ReportSystemError(owner(), "Не удалось открыть битый файл.", ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RecordedBoxes().size(), 1u);
  const std::string& text = RecordedBoxes()[0].text;
  ASSERT_FALSE(text.empty());
  size_t cyrillic = 0;
  for (const char c : text) cyrillic += static_cast<unsigned char>(c) >= 0xC0 ? 1 : 0;
  EXPECT_GT(cyrillic, 0u) << text;
}

#endif

}  // namespace
