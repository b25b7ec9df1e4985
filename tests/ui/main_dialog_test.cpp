// The real dialog, driven as a user drives it: the paths typed into the fields, the radios
// and Start clicked, the status bar, the cursor, the boxes and the files on disk watched.
#include "ui/main_dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"
#include "words/step_texts.h"
#include "tests/testing/reference.h"
#include "tests/testing/scratch_folder.h"
#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/dialog_service_faults.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/main_window.h"
#include "tests/ui/harness/screenshot.h"
#include "ui/background_work.h"
#include "ui/browse_edit.h"
#include "ui/control_ids.h"
#include "ui/outcome_boxes.h"
#include "ui/program_state.h"
#include "words/words.h"

namespace {

// Every text the status bar is given, with the cursor the program has set by then.
struct StatusWrite {
  int part;
  std::string text;
  HCURSOR cursor;
};
std::vector<StatusWrite> statusWrites;
WNDPROC statusBarProc = nullptr;

LRESULT CALLBACK RecordingStatusBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == SB_SETTEXTW) {
    const auto* text = reinterpret_cast<const wchar_t*>(lParam);
    statusWrites.push_back({LOBYTE(LOWORD(wParam)), Utf8(text, wcslen(text)), GetCursor()});
  }
  return CallWindowProcW(statusBarProc, window, message, wParam, lParam);
}

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMessageBoxSink(nullptr);
    dialog_ = gui::OpenMainDialog();
    ASSERT_NE(dialog_, nullptr);
    catcher_.Ignore(dialog_);
    statusWrites.clear();
    statusBarProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(Item(IDC_STATUS_BAR), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingStatusBar)));
  }
  void TearDown() override {
    gui::CloseMainDialog(dialog_);
    ClearFaults();
  }

  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  std::string State() const { return gui::StatusText(Item(IDC_STATUS_BAR), 0); }
  std::string Mode() const { return gui::StatusText(Item(IDC_STATUS_BAR), 1); }
  const BrowseEditState& ButtonOf(int id) const {
    return *reinterpret_cast<const BrowseEditState*>(GetWindowLongPtrW(Item(id), GWLP_USERDATA));
  }
  void SwitchTo(int radio) {
    gui::Click(Item(radio));
    gui::Pump(30);
  }
  // Clicks Start; returns once its work, and every box it showed, is over.
  void PressStart() {
    statusWrites.clear();
    gui::Click(Item(IDC_START));
    EXPECT_TRUE(gui::PumpUntil([] { return !BackgroundWorkRunning(); }, 30000)) << "the work did not end";
    gui::Pump(100);
  }
  // The state part's texts Start wrote, in order.
  std::vector<std::string> StateTexts() const {
    std::vector<std::string> texts;
    for (const StatusWrite& write : statusWrites) {
      if (write.part == 0) texts.push_back(write.text);
    }
    return texts;
  }
  // "Working", then perhaps the work's percentages, then "Ready".
  void ExpectWorkedThenReady() const {
    const std::vector<std::string> texts = StateTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts.front(), kRussian.dialog.working);
    for (size_t i = 1; i + 1 < texts.size(); ++i) {
      EXPECT_EQ(texts[i].rfind(std::string(kRussian.dialog.working) + ": ", 0), 0u) << texts[i];
    }
    EXPECT_EQ(texts.back(), kRussian.dialog.ready);
    EXPECT_EQ(statusWrites.back().cursor, program.arrowCursor) << "the arrow is back before the ready text";
    EXPECT_EQ(State(), kRussian.dialog.ready);
    EXPECT_EQ(program.busy, 0u);
    EXPECT_EQ(program.cursorRefresh, 0u);
  }
  void ExpectCompletionBox() const {
    ASSERT_EQ(catcher_.boxes().size(), 1u);
    EXPECT_EQ(catcher_.boxes()[0].caption, kRussian.shared.attention);
    EXPECT_EQ(catcher_.boxes()[0].text, kRussian.dialog.taskDone);
    EXPECT_EQ(catcher_.boxes()[0].icon, gui::BoxIcon::None);
    EXPECT_EQ(catcher_.boxes()[0].owner, dialog_);
  }

  HWND dialog_ = nullptr;
  gui::BoxCatcher catcher_;
  ScratchFolder folder_;
};

TEST_F(MainDialogTest, OpensInModeOneReadyWithTheFirstRadioFocused) {
  EXPECT_EQ(State(), kRussian.dialog.ready);
  EXPECT_EQ(Mode(), kRussian.dialog.modeBrokenScan);
  EXPECT_EQ(program.workMode, WorkMode::BrokenScan);
  EXPECT_EQ(program.firstResize, 0u);
  EXPECT_EQ(SendMessageA(Item(IDC_MODE_BROKEN_SCAN), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(GetFocus(), Item(IDC_MODE_BROKEN_SCAN));
  RECT client;
  GetClientRect(dialog_, &client);
  int edges[2] = {};
  ASSERT_EQ(SendMessageA(Item(IDC_STATUS_BAR), SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges)), 2);
  EXPECT_EQ(edges[0], client.right - 275);
  EXPECT_EQ(edges[1], client.right);
  for (int id = IDC_BROKEN_FILE; id <= IDC_OUTPUT_FOLDER; ++id) {
    EXPECT_EQ(SendMessageA(Item(id), EM_GETLIMITTEXT, 0, 0), 520) << id;
    EXPECT_EQ(ButtonOf(id).commandId, static_cast<uint32_t>(id - IDC_BROKEN_FILE + 1));
    EXPECT_EQ(ButtonOf(id).buttonWidth, 18);
  }
  EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrA(dialog_, GCLP_HICON)), program.appIcon);
  EXPECT_NE(program.appIcon, nullptr);
}

// Moved to a monitor of 150 % on a system that does not rescale dialogs itself (per-monitor
// awareness version 1, as Wine and Windows 8.1 give it): the window goes where the system
// suggests and keeps its layout, the pixel sizes of its own included.
TEST_F(MainDialogTest, AChangeOfScaleTheSystemLeavesToTheDialogMovesItAndKeepsItsLayout) {
  RECT window, client;
  GetWindowRect(dialog_, &window);
  GetClientRect(dialog_, &client);
  const RECT suggested{window.left + 40, window.top + 30, window.left + 40 + (window.right - window.left) * 3 / 2,
                       window.top + 30 + (window.bottom - window.top) * 3 / 2};
  SendMessageW(dialog_, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  gui::Pump(30);
  RECT after, clientAfter;
  GetWindowRect(dialog_, &after);
  GetClientRect(dialog_, &clientAfter);
  EXPECT_EQ(after.left, suggested.left);
  EXPECT_EQ(after.top, suggested.top);
  EXPECT_EQ(clientAfter.right, client.right);
  EXPECT_EQ(clientAfter.bottom, client.bottom);
  int edges[2] = {};
  ASSERT_EQ(SendMessageW(Item(IDC_STATUS_BAR), SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges)), 2);
  EXPECT_EQ(edges[0], client.right - 275);
  for (int id = IDC_BROKEN_FILE; id <= IDC_OUTPUT_FOLDER; ++id) EXPECT_EQ(ButtonOf(id).buttonWidth, 18) << id;
}

TEST_F(MainDialogTest, EachModeRunsItsOperationOnTheTextsOfItsFields) {
  const Bytes valid = RandomBytes(7, 11 * 4096 + 123);
  Bytes broken = valid;
  broken[4096 + 10] ^= 0x5A;
  broken[4 * 4096] ^= 0x01;
  folder_.Write("disk.img", broken);
  ScratchFolder remote;
  remote.Write("disk.img", valid);

  // Mode 1: the test file, next to the broken file.
  gui::TypeInto(Item(IDC_BROKEN_FILE), folder_.Path("disk.img"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), folder_.path());
  PressStart();
  ExpectCompletionBox();
  ExpectWorkedThenReady();
  EXPECT_EQ(statusWrites.front().cursor, program.arrowCursor) << "the wait cursor comes after the working text";
  EXPECT_EQ(folder_.Read("disk.crc"), ReferenceTestFile(broken));

  // Mode 2: the repair file, where the valid file is.
  remote.Write("disk.crc", folder_.Read("disk.crc"));
  SwitchTo(IDC_MODE_VALID_SCAN);
  gui::TypeInto(Item(IDC_VALID_FILE), remote.Path("disk.img"));
  gui::TypeInto(Item(IDC_TEST_FILE), remote.Path("disk.crc"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), remote.path());
  const size_t boxes = catcher_.boxes().size();
  PressStart();
  ASSERT_EQ(catcher_.boxes().size(), boxes + 1);
  EXPECT_EQ(catcher_.boxes().back().text, kRussian.dialog.taskDone);
  ExpectWorkedThenReady();
  const Bytes repairFile = remote.Read("disk.fix");
  EXPECT_EQ(repairFile, ReferenceRepairFile(valid, remote.Read("disk.crc")));

  // Mode 3: the broken file put right in place; its path was carried over from mode 1.
  folder_.Write("disk.fix", repairFile);
  SwitchTo(IDC_MODE_REPAIR);
  EXPECT_EQ(gui::TextOf(Item(IDC_REPAIR_BROKEN_FILE)), folder_.Path("disk.img"));
  gui::TypeInto(Item(IDC_REPAIR_FILE), folder_.Path("disk.fix"));
  PressStart();
  ASSERT_EQ(catcher_.boxes().size(), boxes + 2);
  EXPECT_EQ(catcher_.boxes().back().text, kRussian.dialog.taskDone);
  ExpectWorkedThenReady();
  EXPECT_EQ(folder_.Read("disk.img"), valid);
}

// Firmware with an erased tail: 8 KiB of data, then 8 KiB of 0xFF, whose blocks checksum to 0
// like the zeros of a cut-short copy. The broken copy holds only the data, one block of it
// damaged. The three modes give back the valid file byte for byte, and the closing check
// (modes 1 and 2 again) then finds the contents identical.
TEST_F(MainDialogTest, ACutShortCopyWithAnErasedTailIsRepairedExactly) {
  const Bytes valid = Concat({RandomBytes(17, 2 * 4096), Bytes(2 * 4096, 0xFF)});
  Bytes broken(valid.begin(), valid.begin() + 2 * 4096);
  broken[4096 + 33] ^= 0x08;
  folder_.Write("flash.bin", broken);
  ScratchFolder remote;
  remote.Write("flash.bin", valid);
  const auto runMode1 = [&] {
    SwitchTo(IDC_MODE_BROKEN_SCAN);
    gui::TypeInto(Item(IDC_BROKEN_FILE), folder_.Path("flash.bin"));
    gui::TypeInto(Item(IDC_OUTPUT_FOLDER), folder_.path());
    PressStart();
    remote.Write("flash.crc", folder_.Read("flash.crc"));
  };
  const auto runMode2 = [&] {
    SwitchTo(IDC_MODE_VALID_SCAN);
    gui::TypeInto(Item(IDC_VALID_FILE), remote.Path("flash.bin"));
    gui::TypeInto(Item(IDC_TEST_FILE), remote.Path("flash.crc"));
    gui::TypeInto(Item(IDC_OUTPUT_FOLDER), remote.path());
    PressStart();
  };

  runMode1();
  ExpectCompletionBox();
  EXPECT_EQ(folder_.Read("flash.crc"), ReferenceTestFile(broken));
  // Three blocks of four travel, as they would for another version of the file: said as a share.
  char share[512];
  std::snprintf(share, sizeof share, kRussian.shared.differsMuch, 75u);
  runMode2();
  ASSERT_EQ(catcher_.boxes().size(), 2u);
  EXPECT_EQ(catcher_.boxes().back().text, kRussian.dialog.taskDone + std::string("\n\n") + share);
  // Block 2 for its damage, blocks 3 and 4 because the copy lacks their 0xFF bytes.
  const Bytes repairFile = remote.Read("flash.fix");
  EXPECT_EQ(Part(repairFile, 0, 20), Concat({Le32(4 * 4096), Le32(3), Le32(2), Le32(3), Le32(4)}));
  EXPECT_EQ(repairFile, ReferenceRepairFile(valid, remote.Read("flash.crc")));

  folder_.Write("flash.fix", repairFile);
  SwitchTo(IDC_MODE_REPAIR);
  gui::TypeInto(Item(IDC_REPAIR_BROKEN_FILE), folder_.Path("flash.bin"));
  gui::TypeInto(Item(IDC_REPAIR_FILE), folder_.Path("flash.fix"));
  PressStart();
  ASSERT_EQ(catcher_.boxes().size(), 3u);
  std::snprintf(share, sizeof share, kRussian.shared.replacedShare, 75u);
  EXPECT_EQ(catcher_.boxes().back().text, kRussian.dialog.taskDone + std::string("\n\n") + share);
  ExpectWorkedThenReady();
  EXPECT_TRUE(folder_.Read("flash.bin") == valid) << "the repaired file is the valid one, byte for byte";

  runMode1();
  runMode2();
  ASSERT_EQ(catcher_.boxes().size(), 5u);
  EXPECT_NE(catcher_.boxes().back().text.find(remote.Path("flash.fix")), std::string::npos) << "the proof, of no blocks";
  EXPECT_EQ(catcher_.boxes().back().caption, kRussian.shared.attention);
  EXPECT_EQ(remote.Read("flash.fix"), ReferenceRepairFile(valid, remote.Read("flash.crc")));
}

// A repair that cannot be flushed to the disk is not done: the write step's box, and no
// completion box.
TEST_F(MainDialogTest, ARepairThatIsNotFlushedIsNotReportedDone) {
  const Bytes valid = RandomBytes(18, 3 * 4096);
  Bytes broken = valid;
  broken[5] ^= 0x40;
  folder_.Write("disk.img", broken);
  folder_.Write("disk.fix", ReferenceRepairFile(valid, ReferenceTestFile(broken)));
  SwitchTo(IDC_MODE_REPAIR);
  gui::TypeInto(Item(IDC_REPAIR_BROKEN_FILE), folder_.Path("disk.img"));
  gui::TypeInto(Item(IDC_REPAIR_FILE), folder_.Path("disk.fix"));
  InjectFault(Service::FlushFile, 1, SystemErrorCode(SystemErrorKind::DiskFull));
  PressStart();
  ASSERT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(catcher_.boxes()[0].caption, StepMessage(Step::WriteRepaired));
  EXPECT_EQ(catcher_.boxes()[0].icon, gui::BoxIcon::Error);
  ExpectWorkedThenReady();
}

TEST_F(MainDialogTest, AnEmptyRequiredFieldStopsStartBeforeAnyFileIsTouched) {
  folder_.Write("disk.img", RandomBytes(2, 4096));
  struct Case {
    const char* name;
    int radio;
    std::vector<std::pair<int, std::string>> fields;
  };
  const Case cases[] = {
      {"mode 1, no output folder", IDC_MODE_BROKEN_SCAN, {{IDC_BROKEN_FILE, folder_.Path("disk.img")}}},
      {"mode 2, only the valid file", IDC_MODE_VALID_SCAN, {{IDC_VALID_FILE, folder_.Path("disk.img")}}},
      {"mode 3, no repair file", IDC_MODE_REPAIR, {{IDC_REPAIR_BROKEN_FILE, folder_.Path("disk.img")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int id = IDC_BROKEN_FILE; id <= IDC_OUTPUT_FOLDER; ++id) gui::SetTextOf(Item(id), "");
    SwitchTo(c.radio);
    for (const auto& [id, text] : c.fields) gui::SetTextOf(Item(id), text);
    std::string stateDuringBox;
    catcher_.whileOpen = [&](HWND, const gui::SeenBox&) { stateDuringBox = State(); };
    const size_t before = catcher_.boxes().size();
    PressStart();
    ASSERT_EQ(catcher_.boxes().size(), before + 1) << "only the fill-in box, no completion box";
    EXPECT_EQ(catcher_.boxes().back().text, kRussian.dialog.fillAllFields);
    EXPECT_EQ(stateDuringBox, kRussian.dialog.working);
    ExpectWorkedThenReady();
    EXPECT_FALSE(folder_.Exists("disk.crc"));
    EXPECT_FALSE(folder_.Exists("disk.fix"));
    for (const auto& [id, text] : c.fields) EXPECT_EQ(gui::TextOf(Item(id)), text);
  }
}

// Sees each box of an outcome as it is asked for, then shows it.
HCURSOR cursorAtOutcomeBox = nullptr;
std::string stateAtOutcomeBox;
int ShowAndWatch(WindowHandle owner, const char* text, const char* caption, unsigned type) {
  cursorAtOutcomeBox = GetCursor();
  stateAtOutcomeBox = gui::StatusText(GetDlgItem(static_cast<HWND>(owner), IDC_STATUS_BAR), 0);
  return MessageBoxW(static_cast<HWND>(owner), Wide(text).c_str(), Wide(caption).c_str(), type);
}

// The work has ended and the dialog is ready again before its box says why it failed.
TEST_F(MainDialogTest, AFailedOperationShowsItsOwnBoxOnceReadyAndNoCompletionBox) {
  gui::TypeInto(Item(IDC_BROKEN_FILE), folder_.Path("missing.img"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), folder_.path());
  InstallMessageBoxSink(&ShowAndWatch);
  PressStart();
  InstallMessageBoxSink(nullptr);
  ASSERT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(catcher_.boxes()[0].caption, StepMessage(Step::OpenBroken));
  EXPECT_EQ(catcher_.boxes()[0].icon, gui::BoxIcon::Error);
  EXPECT_EQ(catcher_.boxes()[0].owner, dialog_);
  EXPECT_EQ(stateAtOutcomeBox, kRussian.dialog.ready);
  EXPECT_EQ(cursorAtOutcomeBox, program.arrowCursor);
  ExpectWorkedThenReady();
  EXPECT_EQ(gui::TextOf(Item(IDC_BROKEN_FILE)), folder_.Path("missing.img")) << "fields keep their text";
  EXPECT_FALSE(folder_.Exists("missing.crc"));
}

TEST_F(MainDialogTest, EachModeSwitchEnablesExactlyTheControlsOfItsColumn) {
  // Per control: enabled in mode 1, 2, 3.
  struct Row {
    int id;
    bool enabled[3];
    bool hasButton;
  };
  const Row rows[] = {
      {IDC_BROKEN_FILE, {true, false, false}, true},
      {IDC_LABEL_BROKEN_FILE, {true, false, false}, false},
      {IDC_GROUP_BROKEN_SCAN, {true, false, false}, false},
      {IDC_VALID_FILE, {false, true, false}, true},
      {IDC_TEST_FILE, {false, true, false}, true},
      {IDC_LABEL_VALID_FILE, {false, true, false}, false},
      {IDC_LABEL_TEST_FILE, {false, true, false}, false},
      {IDC_GROUP_VALID_SCAN, {false, true, false}, false},
      {IDC_REPAIR_BROKEN_FILE, {false, false, true}, true},
      {IDC_REPAIR_FILE, {false, false, true}, true},
      {IDC_LABEL_REPAIR_BROKEN_FILE, {false, false, true}, false},
      {IDC_LABEL_REPAIR_FILE, {false, false, true}, false},
      {IDC_GROUP_REPAIR, {false, false, true}, false},
      {IDC_LABEL_OUTPUT_FOLDER, {true, true, false}, false},
      {IDC_OUTPUT_FOLDER, {true, true, false}, true},
  };
  const char* const modeTexts[3] = {kRussian.dialog.modeBrokenScan, kRussian.dialog.modeValidScan, kRussian.dialog.modeRepair};
  // Every field holds a text, which no switch may change.
  for (int id = IDC_BROKEN_FILE; id <= IDC_OUTPUT_FOLDER; ++id) {
    gui::SetTextOf(Item(id), "C:\\field" + std::to_string(id));
  }
  // Each mode from each other mode, and the current mode clicked again.
  for (int mode : {2, 3, 1, 3, 2, 1, 1}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    SwitchTo(IDC_MODE_BROKEN_SCAN + mode - 1);
    EXPECT_EQ(program.workMode, static_cast<WorkMode>(mode));
    EXPECT_EQ(Mode(), modeTexts[mode - 1]);
    for (int radio = 0; radio < 3; ++radio) {
      EXPECT_EQ(SendMessageA(Item(IDC_MODE_BROKEN_SCAN + radio), BM_GETCHECK, 0, 0),
                radio == mode - 1 ? BST_CHECKED : BST_UNCHECKED);
    }
    for (const Row& row : rows) {
      EXPECT_EQ(IsWindowEnabled(Item(row.id)) != 0, row.enabled[mode - 1]) << row.id;
      if (row.hasButton) {
        EXPECT_EQ(ButtonOf(row.id).enabled != 0, row.enabled[mode - 1]) << row.id;
      }
    }
    for (int id = IDC_BROKEN_FILE; id <= IDC_OUTPUT_FOLDER; ++id) {
      EXPECT_EQ(gui::TextOf(Item(id)), "C:\\field" + std::to_string(id));
    }
    EXPECT_EQ(State(), kRussian.dialog.ready);
  }
}

TEST_F(MainDialogTest, ModeThreeTakesTheBrokenFileOfModeOneOnlyIntoAnEmptyField) {
  struct Case {
    const char* name;
    std::string modeOneField;
    std::string modeThreeField;
    std::string expected;
  };
  const Case cases[] = {
      {"empty field, mode 1 filled: copied", "C:\\data\\disk.img", "", "C:\\data\\disk.img"},
      {"field already set: kept", "C:\\data\\disk.img", "D:\\other.img", "D:\\other.img"},
      {"both empty: nothing", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SwitchTo(IDC_MODE_BROKEN_SCAN);
    gui::SetTextOf(Item(IDC_BROKEN_FILE), c.modeOneField);
    gui::SetTextOf(Item(IDC_REPAIR_BROKEN_FILE), c.modeThreeField);
    SwitchTo(IDC_MODE_REPAIR);
    EXPECT_EQ(gui::TextOf(Item(IDC_REPAIR_BROKEN_FILE)), c.expected);
    EXPECT_EQ(gui::TextOf(Item(IDC_BROKEN_FILE)), c.modeOneField);
  }
}

TEST_F(MainDialogTest, AFullFieldIsNeverCutToADifferentName) {
  // 520 characters: the field takes them, a path may have only 519.
  const std::string full = folder_.Path(std::string(520 - folder_.path().size() - 1, 'a'));
  ASSERT_EQ(full.size(), 520u);
  gui::SetTextOf(Item(IDC_BROKEN_FILE), full);
  ASSERT_EQ(gui::TextOf(Item(IDC_BROKEN_FILE)), full);
  gui::SetTextOf(Item(IDC_OUTPUT_FOLDER), folder_.path());
  PressStart();
  ASSERT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(catcher_.boxes()[0].caption, StepMessage(Step::OpenBroken));
  char* tooLong = DescribeSystemError(SystemErrorCode(SystemErrorKind::NameTooLong));
  EXPECT_EQ(catcher_.boxes()[0].text, tooLong != nullptr ? tooLong : "");
  FreeSystemErrorText(tooLong);

  SwitchTo(IDC_MODE_REPAIR);
  EXPECT_EQ(gui::TextOf(Item(IDC_REPAIR_BROKEN_FILE)), full) << "copied whole";
}

TEST_F(MainDialogTest, CommandsWithANotificationCodeChangeNothing) {
  gui::SetTextOf(Item(IDC_BROKEN_FILE), "C:\\data\\disk.img");
  for (WORD id : {WORD{IDC_START}, WORD{IDC_MODE_REPAIR}, WORD{IDC_CLOSE}, WORD{1}, WORD{6}}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(MainDialogProc(dialog_, WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), 0), TRUE);
    gui::Pump(30);
  }
  EXPECT_TRUE(catcher_.boxes().empty()) << "no Start, no chooser";
  EXPECT_TRUE(IsWindowVisible(dialog_));
  EXPECT_EQ(program.workMode, WorkMode::BrokenScan);
  EXPECT_EQ(Mode(), kRussian.dialog.modeBrokenScan);
  EXPECT_TRUE(statusWrites.empty());
}

TEST_F(MainDialogTest, MinimiseAndRestoreMoveThePartEdgesButWriteNoText) {
  RECT client;
  GetClientRect(dialog_, &client);
  SendMessageW(Item(IDC_STATUS_BAR), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"marker"));
  statusWrites.clear();
  ShowWindow(dialog_, SW_MINIMIZE);
  gui::Pump(50);
  EXPECT_EQ(program.statusPartEdges[0], -275);
  EXPECT_EQ(program.statusPartEdges[1], 0);
  ShowWindow(dialog_, SW_RESTORE);
  gui::Pump(50);
  EXPECT_EQ(program.statusPartEdges[0], client.right - 275);
  EXPECT_EQ(program.statusPartEdges[1], client.right);
  EXPECT_TRUE(statusWrites.empty());
  EXPECT_EQ(State(), "marker");
}

TEST_F(MainDialogTest, PressingOnTheDialogsSurfaceDragsTheWindow) {
  RECT before;
  GetWindowRect(dialog_, &before);
  // Between the Close button and the credit line: the dialog's own surface.
  RECT close;
  GetWindowRect(Item(IDC_CLOSE), &close);
  const POINT start{close.right + 15, (close.top + close.bottom) / 2};
  ASSERT_EQ(WindowFromPoint(start), dialog_);
  gui::MoveMouseTo(start);
  // The press starts the system's move loop inside the dialog's handler, which returns only
  // at the release: the rest of the drag comes from another thread.
  std::thread hand([start] {
    gui::SendMouseInput(MOUSEEVENTF_LEFTDOWN);
    Sleep(150);
    gui::SendMouseMoveTo(POINT{start.x + 20, start.y + 15});
    Sleep(100);
    gui::SendMouseMoveTo(POINT{start.x + 40, start.y + 30});
    Sleep(100);
    gui::SendMouseInput(MOUSEEVENTF_LEFTUP);
  });
  gui::Pump(600);
  hand.join();
  gui::Pump(50);
  RECT after;
  GetWindowRect(dialog_, &after);
  EXPECT_EQ(after.left - before.left, 40);
  EXPECT_EQ(after.top - before.top, 30);
}

// The three modes as each of the two people sees them, and the required-field check.
TEST_F(MainDialogTest, Screenshots) {
  const std::string broken = std::string(gui::BrokenOwnersFolder()) + "\\";
  const std::string valid = std::string(gui::ValidOwnersFolder()) + "\\";
  const auto show = [&](int radio, const std::vector<std::pair<int, std::string>>& fields) {
    for (int id = IDC_BROKEN_FILE; id <= IDC_OUTPUT_FOLDER; ++id) gui::SetTextOf(Item(id), "");
    for (const auto& [id, text] : fields) gui::SetTextOf(Item(id), text);
    SwitchTo(radio);
  };
  show(IDC_MODE_BROKEN_SCAN, {{IDC_BROKEN_FILE, broken + "disk.img"}, {IDC_OUTPUT_FOLDER, gui::BrokenOwnersFolder()}});
  gui::SaveWindowPicture(dialog_, "main-dialog-mode-1.png");
  show(IDC_MODE_VALID_SCAN, {{IDC_VALID_FILE, valid + "disk.img"},
                             {IDC_TEST_FILE, valid + "disk.crc"},
                             {IDC_OUTPUT_FOLDER, gui::ValidOwnersFolder()}});
  gui::SaveWindowPicture(dialog_, "main-dialog-mode-2.png");
  // Mode 3 takes the broken file from mode 1.
  show(IDC_MODE_BROKEN_SCAN, {{IDC_BROKEN_FILE, broken + "disk.img"}, {IDC_OUTPUT_FOLDER, gui::BrokenOwnersFolder()}});
  SwitchTo(IDC_MODE_REPAIR);
  gui::SetTextOf(Item(IDC_REPAIR_FILE), broken + "disk.fix");
  gui::SaveWindowPicture(dialog_, "main-dialog-mode-3.png");
  // The required-field check as the user sees it: the empty field red under the box.
  gui::SetTextOf(Item(IDC_REPAIR_FILE), "");
  catcher_.whileOpen = [&](HWND box, const gui::SeenBox&) {
    // Below the flagged field, as a user would move it, so that both show.
    RECT dialogRect, field;
    GetWindowRect(dialog_, &dialogRect);
    GetWindowRect(Item(IDC_REPAIR_FILE), &field);
    const POINT below{dialogRect.left + 30, field.bottom + 4};
    gui::SaveBoxPicture(dialog_, box, "main-dialog-required-fields.png", &below);
  };
  PressStart();
  EXPECT_EQ(catcher_.boxes().size(), 1u);
}

// The two boxes a user waits for, as the guide shows them: the task done after a scan, and
// checksums that all match when the valid file is scanned with a test file of the same
// contents, which still writes the repair file of no blocks that proves the copies the same.
TEST_F(MainDialogTest, ScreenshotsOfTheTaskDoneAndIdenticalBoxes) {
  folder_.Write("disk.img", RandomBytes(3, 3 * 4096 + 5));
  std::vector<std::string> saved;
  catcher_.whileOpen = [&](HWND box, const gui::SeenBox& seen) {
    gui::Pump(100);
    const std::string name = seen.text == CurrentWords().dialog.taskDone ? "box-task-done.png" : "box-identical.png";
    if (gui::SaveWindowPicture(box, name)) saved.push_back(name);
  };
  gui::TypeInto(Item(IDC_BROKEN_FILE), folder_.Path("disk.img"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), folder_.path());
  PressStart();
  SwitchTo(IDC_MODE_VALID_SCAN);
  gui::TypeInto(Item(IDC_VALID_FILE), folder_.Path("disk.img"));
  gui::TypeInto(Item(IDC_TEST_FILE), folder_.Path("disk.crc"));
  PressStart();
  ASSERT_EQ(catcher_.boxes().size(), 2u);
  char proof[1024];
  std::snprintf(proof, sizeof proof, CurrentWords().shared.identicalProof, folder_.Path("disk.fix").c_str());
  EXPECT_EQ(catcher_.boxes()[1].text, proof);
  EXPECT_EQ(catcher_.boxes()[1].caption, CurrentWords().shared.attention);
  EXPECT_EQ(folder_.Read("disk.fix"), ReferenceRepairFile(folder_.Read("disk.img"), folder_.Read("disk.crc")));
  EXPECT_EQ(saved, (std::vector<std::string>{"box-task-done.png", "box-identical.png"}));
}

// Two words swapped in block 1, which its checksum cannot see, beside damage it sees: the
// repair warns in its own words, writes the follow-up into mode 1's output folder, and mode 2
// hands that to the streaming scan, whose repair file then makes the file whole.
// A repair file made for another file: its own warning box, and the file as it was.
TEST_F(MainDialogTest, ARepairFileMadeForAnotherFileIsRefusedInABoxOfItsOwn) {
  const Bytes valid = RandomBytes(19, 3 * 4096);
  Bytes broken = valid;
  broken[5] ^= 0x40;
  const Bytes other = RandomBytes(20, valid.size());
  folder_.Write("disk.img", other);
  folder_.Write("disk.fix", ReferenceRepairFile(valid, ReferenceTestFile(broken)));
  SwitchTo(IDC_MODE_REPAIR);
  gui::TypeInto(Item(IDC_REPAIR_BROKEN_FILE), folder_.Path("disk.img"));
  gui::TypeInto(Item(IDC_REPAIR_FILE), folder_.Path("disk.fix"));
  PressStart();
  ASSERT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(catcher_.boxes()[0].caption, kRussian.shared.attention);
  EXPECT_EQ(catcher_.boxes()[0].text, kRussian.shared.otherFile);
  EXPECT_EQ(catcher_.boxes()[0].icon, gui::BoxIcon::Warning);
  ExpectWorkedThenReady();
  EXPECT_EQ(folder_.Read("disk.img"), other);
}

TEST_F(MainDialogTest, ARepairWhoseResultStillDiffersWarnsAndTheFollowUpMakesItWhole) {
  const Bytes valid = RandomBytes(8, 3 * 4096 + 7);
  Bytes broken = valid;
  std::swap_ranges(broken.begin() + 4, broken.begin() + 8, broken.begin() + 1000);
  broken[2 * 4096] ^= 0x01;
  folder_.Write("disk.img", broken);
  folder_.Write("disk.crc", ReferenceTestFile(broken));
  ScratchFolder remote;
  remote.Write("disk.img", valid);
  const std::string out = folder_.MakeFolder("out");
  const auto exchange = [&](const std::string& testFile) {
    SwitchTo(IDC_MODE_VALID_SCAN);
    gui::TypeInto(Item(IDC_VALID_FILE), remote.Path("disk.img"));
    gui::TypeInto(Item(IDC_TEST_FILE), testFile);
    gui::TypeInto(Item(IDC_OUTPUT_FOLDER), out);
    const size_t before = catcher_.boxes().size();
    PressStart();
    // The answer to a follow-up comes from the worker thread, after Start has returned.
    gui::PumpUntil([&] { return catcher_.boxes().size() > before; });
    SwitchTo(IDC_MODE_REPAIR);
    gui::TypeInto(Item(IDC_REPAIR_BROKEN_FILE), folder_.Path("disk.img"));
    gui::TypeInto(Item(IDC_REPAIR_FILE), folder_.Path(std::string("out") + kPathSeparator + "disk.fix"));
    PressStart();
  };

  exchange(folder_.Path("disk.crc"));
  ASSERT_EQ(catcher_.boxes().size(), 2u);
  const gui::SeenBox& warning = catcher_.boxes()[1];
  const std::string followUp = folder_.Path(std::string("out") + kPathSeparator + "disk.crc");
  EXPECT_EQ(warning.caption, kRussian.shared.attention);
  EXPECT_EQ(warning.icon, gui::BoxIcon::Warning);
  EXPECT_EQ(warning.owner, dialog_);
  char head[256], next[2048];
  std::snprintf(head, sizeof head, kRussian.dialog.differsHead, 1u);
  std::snprintf(next, sizeof next, kRussian.dialog.differsNext, followUp.c_str());
  EXPECT_EQ(warning.text, std::string(head) + "\nбайты 0–12294\n\n" + kRussian.dialog.differsWhy + "\n\n" + next);
  EXPECT_EQ(State(), kRussian.dialog.ready);
  EXPECT_FALSE(folder_.Read("disk.img") == valid);

  exchange(followUp);
  ASSERT_EQ(catcher_.boxes().size(), 4u);
  EXPECT_EQ(catcher_.boxes()[2].text, kRussian.dialog.taskDone);
  EXPECT_EQ(catcher_.boxes()[3].text, kRussian.dialog.taskDone);
  EXPECT_EQ(folder_.Read("disk.img"), valid);
}

// The warning as the guide shows it, over the dialog of the repair that led to it: a file in
// Иван's Downloads with two places that differ, the follow-up in mode 1's output folder.
TEST_F(MainDialogTest, ScreenshotsOfTheWarningOfAResultThatStillDiffers) {
  const std::string broken = std::string(gui::BrokenOwnersFolder()) + "\\";
  gui::SetTextOf(Item(IDC_BROKEN_FILE), broken + "disk.img");
  gui::SetTextOf(Item(IDC_OUTPUT_FOLDER), gui::BrokenOwnersFolder());
  SwitchTo(IDC_MODE_REPAIR);
  gui::SetTextOf(Item(IDC_REPAIR_FILE), broken + "disk.fix");
  // A file below 4 GiB is repaired inside Start, so its box comes while the work is shown.
  SendMessageW(Item(IDC_STATUS_BAR), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(CurrentWords().dialog.working).c_str()));
  Outcome outcome;
  outcome.ending = Ending::Differs;
  outcome.differing = {{0, 1048575}, {734003200, 735051775}};
  outcome.followUpPath = broken + "disk.crc";
  bool saved = false;
  catcher_.whileOpen = [&](HWND box, const gui::SeenBox&) { saved = gui::SaveBoxPicture(dialog_, box, "box-differs.png"); };
  ShowOutcomeBox(dialog_, WorkMode::Repair, outcome);
  ASSERT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(catcher_.boxes()[0].icon, gui::BoxIcon::Warning);
  EXPECT_TRUE(saved);
}

// Ending the dialog, run modally as the program runs it.
TEST(MainDialogEndTest, CloseTheCloseBoxAndEscapeEndWithZeroAndEnterDoesNothing) {
  InstallMessageBoxSink(nullptr);
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
  };
  const Case cases[] = {
      {"Close button", [](HWND dialog) { gui::Click(GetDlgItem(dialog, IDC_CLOSE)); }},
      {"close box, system menu or Alt+F4", [](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); }},
      {"Escape, in mode 1 (not the valid-file chooser)", [](HWND) { gui::PressKey(VK_ESCAPE); }},
      {"Escape, in mode 2 (not the valid-file chooser)",
       [](HWND dialog) {
         gui::Click(GetDlgItem(dialog, IDC_MODE_VALID_SCAN));
         gui::PressKey(VK_ESCAPE);
       }},
      {"Enter, then Close",
       [](HWND dialog) {
         gui::PressKey(VK_RETURN);
         gui::Pump(100);
         // Enter opened nothing and ended nothing.
         EXPECT_TRUE(IsWindowVisible(dialog));
         EXPECT_TRUE(IsWindowEnabled(dialog)) << "no chooser is open";
         gui::Click(GetDlgItem(dialog, IDC_CLOSE));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gui::BoxCatcher catcher;
    bool chooserOpened = false;
    catcher.onOtherDialog = [&](HWND window) {
      chooserOpened = true;
      PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
      return true;
    };
    EXPECT_EQ(gui::RunMainDialogModal([&](HWND dialog) {
                SetForegroundWindow(dialog);
                gui::Pump(50);
                c.act(dialog);
                // A dialog still up has ignored the action: end it with a telling result.
                gui::Pump(200);
                if (IsWindowVisible(dialog)) EndDialog(dialog, 99);
              }),
              0);
    EXPECT_FALSE(chooserOpened);
    EXPECT_TRUE(catcher.boxes().empty());
  }
}

TEST(MainDialogEndTest, WithoutTheProcessHeapTheDialogSaysSoAndEndsBeforeInstallingAnything) {
  InstallMessageBoxSink(nullptr);
  gui::BoxCatcher catcher;
  ClearDialogFaults();
  InjectDialogFault(DialogService::ProcessHeap, 1, ERROR_NOT_ENOUGH_MEMORY);
  // Reaching the idle dialog at all is the failure; it is then ended with a telling result.
  EXPECT_EQ(gui::RunMainDialogModal([](HWND dialog) { EndDialog(dialog, 99); }), 0);
  ClearDialogFaults();
  ASSERT_EQ(catcher.boxes().size(), 1u);
  EXPECT_EQ(catcher.boxes()[0].caption, kRussian.dialog.getProcessHeap);
  char* expected = DescribeSystemError(ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(catcher.boxes()[0].text, expected != nullptr ? expected : "");
  FreeSystemErrorText(expected);
  EXPECT_EQ(catcher.boxes()[0].icon, gui::BoxIcon::Error);
  EXPECT_EQ(program.brokenFileEdit, nullptr) << "no step after the heap ran";
}

}  // namespace
