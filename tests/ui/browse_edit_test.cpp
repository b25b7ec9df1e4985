// The browse-button edit, driven with real mouse and keyboard input in a test dialog under
// Wine: commands posted by presses, the tracking of a held press, the narrowed text area,
// the looks (compared on screen), the measured frames, and the life of the record.
#include "ui/browse_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/wide.h"
#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/dialog_builder.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/screenshot.h"
#include "ui/program_state.h"
#include "words/words.h"

namespace {

constexpr int kFieldId = 101;
constexpr int kOtherFieldId = 102;
constexpr int kScrollFieldId = 103;
constexpr uint32_t kCommandId = 3;
constexpr int kButtonWidth = 18;
// The dialog's caption for the buttons, in the UTF-16 the control draws.
const std::wstring caption = L"...";
const wchar_t* const kCaption = caption.c_str();

struct Command {
  WPARAM wParam;
  LPARAM lParam;
  uint32_t pressedThen;
  uint32_t trackingThen;
  gui::Image buttonThen;
};

std::vector<Command> commands;
HWND watchedField = nullptr;

RECT ButtonOnScreen(HWND field) {
  const auto* state = reinterpret_cast<const BrowseEditState*>(GetWindowLongPtrW(field, GWLP_USERDATA));
  RECT r;
  GetWindowRect(field, &r);
  BrowseButtonRect(state, &r);
  return r;
}

// The button as the control last drew it.
gui::Image ButtonImage(HWND field) {
  RECT r = ButtonOnScreen(field);
  RECT window;
  GetWindowRect(field, &window);
  OffsetRect(&r, -window.left, -window.top);
  return gui::CaptureFromWindow(field, r);
}

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)dialog;
  if (message == WM_COMMAND && HIWORD(wParam) == 0 && LOWORD(wParam) < 100) {
    const auto* state = reinterpret_cast<const BrowseEditState*>(GetWindowLongPtrW(watchedField, GWLP_USERDATA));
    commands.push_back(Command{wParam, lParam, state->pressed, state->tracking,
                               ButtonImage(watchedField)});
    return TRUE;
  }
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// Counts the live blocks of a heap, which the records are taken from.
int LiveBlocks(HANDLE heap) {
  int count = 0;
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) ++count;
  }
  return count;
}

class BrowseEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    heap_ = HeapCreate(0, 0, 0);
    program.processHeap = heap_;
    commands.clear();
    dialog_ = gui::DialogBuilder("BrowseEdit", 20, 20, 200, 80)
                  .Edit(kFieldId, 10, 10, 170, 13)
                  .Edit(kOtherFieldId, 10, 30, 170, 13)
                  .Edit(kScrollFieldId, 10, 50, 170, 24, WS_CHILD | WS_VISIBLE | ES_MULTILINE | WS_VSCROLL)
                  .Create(&TestDialogProc);
    ASSERT_NE(dialog_, nullptr);
    field_ = GetDlgItem(dialog_, kFieldId);
    InstallBrowseEdit(field_, kCommandId, kButtonWidth, kCaption, 1);
    watchedField = field_;
    SetForegroundWindow(dialog_);
    gui::Pump(100);
  }

  void TearDown() override {
    // Let go of a press a failed test may have left held.
    if (GetCapture() != nullptr) ReleaseCapture();
    DestroyWindow(dialog_);
    gui::Pump(20);
    EXPECT_EQ(LiveBlocks(heap_), 0) << "a record outlived its control";
    HeapDestroy(heap_);
    program.processHeap = nullptr;
  }

  const BrowseEditState& State() const {
    return *reinterpret_cast<const BrowseEditState*>(GetWindowLongPtrW(field_, GWLP_USERDATA));
  }
  gui::Image Button() const { return ButtonImage(field_); }
  POINT OffTheButton() const {
    RECT window;
    GetWindowRect(field_, &window);
    return POINT{window.left + 20, window.bottom + 25};
  }

  HANDLE heap_ = nullptr;
  HWND dialog_ = nullptr;
  HWND field_ = nullptr;
};

TEST_F(BrowseEditTest, PressAndReleaseOnTheButtonPostsOneCommandAfterDrawingItNormal) {
  const gui::Image normal = Button();
  gui::MoveMouseTo(gui::BrowseButtonCentre(field_));
  gui::PressLeft();
  EXPECT_EQ(State().pressed, 1u);
  EXPECT_EQ(State().tracking, 1u);
  EXPECT_EQ(GetCapture(), field_);
  EXPECT_NE(Button(), normal) << "a held button must look pushed";
  gui::ReleaseLeft();
  gui::Pump(50);

  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, WPARAM{kCommandId}) << "command id in the low half, notification 0";
  EXPECT_EQ(commands[0].lParam, 0);
  EXPECT_EQ(commands[0].pressedThen, 0u);
  EXPECT_EQ(commands[0].trackingThen, 0u);
  EXPECT_EQ(commands[0].buttonThen, normal) << "the button must be drawn normal before the command arrives";
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(BrowseEditTest, HeldPressFollowsThePointerAndOnlyAReleaseOverTheButtonCounts) {
  const gui::Image normal = Button();
  struct Case {
    const char* name;
    bool backOnBeforeRelease;
    size_t commands;
  };
  for (const Case& c : {Case{"move off, release outside", false, 0}, Case{"move off and back on, release", true, 1}}) {
    SCOPED_TRACE(c.name);
    commands.clear();
    gui::MoveMouseTo(gui::BrowseButtonCentre(field_));
    gui::PressLeft();
    const gui::Image pushed = Button();
    gui::MoveMouseTo(OffTheButton());
    EXPECT_EQ(State().pressed, 0u);
    EXPECT_EQ(State().tracking, 1u) << "the press is still held away from the button";
    EXPECT_EQ(Button(), normal);
    if (c.backOnBeforeRelease) {
      gui::MoveMouseTo(gui::BrowseButtonCentre(field_));
      EXPECT_EQ(State().pressed, 1u);
      EXPECT_EQ(Button(), pushed);
    }
    gui::ReleaseLeft();
    gui::Pump(50);
    EXPECT_EQ(commands.size(), c.commands);
    EXPECT_EQ(State().pressed, 0u);
    EXPECT_EQ(State().tracking, 0u);
    EXPECT_EQ(Button(), normal);
    EXPECT_EQ(GetCapture(), nullptr);
  }
}

TEST_F(BrowseEditTest, ADoubleClickPostsOneCommandPerPress) {
  gui::DoubleClickAt(gui::BrowseButtonCentre(field_));
  gui::Pump(50);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1].wParam, WPARAM{kCommandId});
}

TEST_F(BrowseEditTest, PressesInTheTextAreaAreTheEditsOwnAndButtonPressesLeaveTheCaret) {
  gui::SetTextOf(field_, "C:\\data\\disk.img");
  RECT client;
  GetClientRect(field_, &client);
  POINT inText{client.right - 2, client.bottom / 2};
  ClientToScreen(field_, &inText);
  gui::MoveMouseTo(inText);
  EXPECT_EQ(SendMessageA(field_, WM_NCHITTEST, 0, MAKELPARAM(inText.x, inText.y)), HTCLIENT);
  gui::PressLeft();
  EXPECT_EQ(State().tracking, 0u);
  gui::ReleaseLeft();
  EXPECT_TRUE(commands.empty());
  EXPECT_EQ(GetFocus(), field_) << "a press in the text is an ordinary edit press";

  SendMessageA(field_, EM_SETSEL, 2, 5);
  const POINT onButton = gui::BrowseButtonCentre(field_);
  EXPECT_EQ(SendMessageA(field_, WM_NCHITTEST, 0, MAKELPARAM(onButton.x, onButton.y)), HTBORDER)
      << "no text cursor over the button";
  gui::ClickAt(onButton);
  gui::Pump(50);
  DWORD start = 0, end = 0;
  SendMessageA(field_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 2u);
  EXPECT_EQ(end, 5u);
  EXPECT_EQ(commands.size(), 1u);
}

TEST_F(BrowseEditTest, TheTextAreaIsNarrowedByTheButtonAndLongTextNeverRunsUnderIt) {
  RECT window, client;
  GetWindowRect(field_, &window);
  GetClientRect(field_, &client);
  const BrowseEditState& state = State();
  EXPECT_GT(state.leftBorder, 0u) << "the client edge was measured";
  EXPECT_EQ(state.leftBorder, state.rightBorder);
  EXPECT_EQ(state.topBorder, state.bottomBorder);
  EXPECT_EQ(client.right, (window.right - window.left) - static_cast<LONG>(state.leftBorder + state.rightBorder) -
                              kButtonWidth);

  const gui::Image before = Button();
  gui::TypeInto(field_, std::string(200, 'W') + "\\end");
  EXPECT_EQ(gui::TextOf(field_).size(), 204u);
  // The caret is at the end, so the text has scrolled as far as it goes.
  SendMessageA(dialog_, WM_NCPAINT, 1, 0);
  gui::Pump(50);
  EXPECT_EQ(Button(), before) << "typed text reached the button's strip";
}

TEST_F(BrowseEditTest, TheDisabledLookIsDrawnAtOnceAndOnlyGovernsTheLook) {
  const gui::Image enabled = Button();
  SetBrowseButtonEnabled(dialog_, field_, 0);
  EXPECT_EQ(State().enabled, 0);
  const gui::Image disabled = Button();
  EXPECT_NE(disabled, enabled) << "repainted before the call returns";

  // The flag governs the look only: the enabled window still takes the press.
  gui::PressBrowseButton(field_);
  gui::Pump(50);
  EXPECT_EQ(commands.size(), 1u);
  EXPECT_EQ(Button(), disabled);

  // A disabled window gets no mouse input at all.
  EnableWindow(field_, FALSE);
  gui::PressBrowseButton(field_);
  gui::Pump(50);
  EXPECT_EQ(commands.size(), 1u);

  EnableWindow(field_, TRUE);
  SetBrowseButtonEnabled(dialog_, field_, 1);
  EXPECT_EQ(Button(), enabled);
}

TEST(BrowseButtonRectTest, FillsTheStripInsideTheFrameAndFollowsAWiderRightFrame) {
  struct Case {
    const char* name;
    uint32_t left, right, top, bottom;
    RECT window;
    RECT expected;
  };
  const Case cases[] = {
      {"equal frames, window coordinates", 2, 2, 2, 2, {0, 0, 170, 21}, {150, 2, 168, 19}},
      {"equal frames, screen coordinates", 2, 2, 2, 2, {100, 50, 270, 71}, {250, 52, 268, 69}},
      {"negative screen coordinates", 2, 2, 2, 2, {-300, -40, -130, -19}, {-150, -38, -132, -21}},
      {"right frame wider by a scroll bar", 2, 19, 2, 2, {0, 0, 170, 40}, {150, 2, 168, 38}},
      {"left frame wider: no move", 5, 2, 1, 3, {0, 0, 100, 20}, {80, 1, 98, 17}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BrowseEditState state{};
    state.buttonWidth = 18;
    state.leftBorder = c.left;
    state.rightBorder = c.right;
    state.topBorder = c.top;
    state.bottomBorder = c.bottom;
    RECT r = c.window;
    BrowseButtonRect(&state, &r);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
  }
}

TEST_F(BrowseEditTest, AWiderRightFrameIsMeasuredAndTheButtonMovesRightByTheDifference) {
  HWND scroll = GetDlgItem(dialog_, kScrollFieldId);
  InstallBrowseEdit(scroll, 7, kButtonWidth, kCaption, 1);
  const auto* state = reinterpret_cast<const BrowseEditState*>(GetWindowLongPtrW(scroll, GWLP_USERDATA));
  const uint32_t scrollBar = static_cast<uint32_t>(GetSystemMetrics(SM_CXVSCROLL));
  EXPECT_EQ(state->rightBorder, state->leftBorder + scrollBar);
  RECT window, button;
  GetWindowRect(scroll, &window);
  button = window;
  BrowseButtonRect(state, &button);
  EXPECT_EQ(button.right, window.right - static_cast<LONG>(state->leftBorder));
  const POINT onShiftedButton{button.left + 2, (button.top + button.bottom) / 2};
  EXPECT_EQ(SendMessageA(scroll, WM_NCHITTEST, 0, MAKELPARAM(onShiftedButton.x, onShiftedButton.y)), HTBORDER);
}

TEST_F(BrowseEditTest, NegativeScreenCoordinatesAreHandledAsAnywhereElse) {
  // Left of and above the screen's origin, as on a monitor left of the primary one.
  SetWindowPos(dialog_, nullptr, -600, -300, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  gui::Pump(50);
  const RECT button = ButtonOnScreen(field_);
  ASSERT_LT(button.right, 0);
  ASSERT_LT(button.bottom, 0);
  const POINT on{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
  const POINT leftOf{button.left - 5, on.y};
  EXPECT_EQ(SendMessageA(field_, WM_NCHITTEST, 0, MAKELPARAM(on.x, on.y)), HTBORDER);
  EXPECT_NE(SendMessageA(field_, WM_NCHITTEST, 0, MAKELPARAM(leftOf.x, leftOf.y)), HTBORDER);

  // The screen cannot put the pointer there, so the messages the system would send are sent.
  SendMessageA(field_, WM_NCLBUTTONDOWN, HTBORDER, MAKELPARAM(on.x, on.y));
  EXPECT_EQ(State().tracking, 1u);
  EXPECT_EQ(State().pressed, 1u);
  POINT client = leftOf;
  ScreenToClient(field_, &client);
  SendMessageA(field_, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
  EXPECT_EQ(State().pressed, 0u);
  client = on;
  ScreenToClient(field_, &client);
  SendMessageA(field_, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
  EXPECT_EQ(State().pressed, 1u);
  SendMessageA(field_, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
  gui::Pump(50);
  EXPECT_EQ(State().tracking, 0u);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, WPARAM{kCommandId});
}

// The edit's procedure from before installation, to see that it still gets WM_NCDESTROY.
WNDPROC editProc = nullptr;
int ncDestroyCount = 0;
LRESULT CALLBACK RecordingEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCDESTROY) ++ncDestroyCount;
  return CallWindowProcW(editProc, window, message, wParam, lParam);
}

TEST_F(BrowseEditTest, DestroyingTheControlFreesItsRecordAndThePreviousProcedureStillEndsIt) {
  HWND other = GetDlgItem(dialog_, kOtherFieldId);
  editProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(other, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingEditProc)));
  const int before = LiveBlocks(heap_);
  InstallBrowseEdit(other, 4, kButtonWidth, kCaption, 0);
  EXPECT_EQ(LiveBlocks(heap_), before + 1);
  ncDestroyCount = 0;
  DestroyWindow(other);
  EXPECT_EQ(ncDestroyCount, 1);
  EXPECT_EQ(LiveBlocks(heap_), before);
}

// A heap that cannot give another block.
HANDLE ExhaustedHeap() {
  HANDLE heap = HeapCreate(HEAP_NO_SERIALIZE, 0, 64 * 1024);
  while (HeapAlloc(heap, HEAP_NO_SERIALIZE, 16) != nullptr) {
  }
  return heap;
}

INT_PTR CALLBACK FailingInstallProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  InstallBrowseEdit(GetDlgItem(dialog, kFieldId), 1, kButtonWidth, kCaption, 1);
  InstallBrowseEdit(GetDlgItem(dialog, kOtherFieldId), 2, kButtonWidth, kCaption, 1);
  // Still plain edits.
  for (int id : {kFieldId, kOtherFieldId}) {
    EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(dialog, id), GWLP_USERDATA), 0);
    EXPECT_NE(GetWindowLongPtrW(GetDlgItem(dialog, id), GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&BrowseEditProc));
  }
  return TRUE;
}

TEST(BrowseEditInstallTest, ARecordThatCannotBeAllocatedIsReportedAndEndsTheDialogWithZero) {
  ResetProgramState();
  InstallMessageBoxSink(nullptr);
  HANDLE heap = ExhaustedHeap();
  program.processHeap = heap;
  gui::BoxCatcher catcher;
  const INT_PTR result = gui::DialogBuilder("BrowseEdit", 20, 20, 200, 60)
                             .Edit(kFieldId, 10, 10, 170, 13)
                             .Edit(kOtherFieldId, 10, 30, 170, 13)
                             .Run(&FailingInstallProc);
  EXPECT_EQ(result, 0);
  // Every installation of the initialisation still runs, each reporting its own failure.
  ASSERT_EQ(catcher.boxes().size(), 2u);
  for (const gui::SeenBox& box : catcher.boxes()) {
    EXPECT_EQ(box.caption, kRussian.dialog.allocateBrowseRecord);
    EXPECT_EQ(box.icon, gui::BoxIcon::Error);
  }
  char* expected = DescribeSystemError(ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(catcher.boxes()[0].text, expected != nullptr ? expected : "");
  FreeSystemErrorText(expected);
  HeapDestroy(heap);
}

TEST_F(BrowseEditTest, Screenshots) {
  HWND other = GetDlgItem(dialog_, kOtherFieldId);
  InstallBrowseEdit(other, 4, kButtonWidth, kCaption, 0);
  EnableWindow(other, FALSE);
  gui::SetTextOf(field_, "C:\\data\\disk.img");
  gui::SetTextOf(other, "D:\\backup\\disk.img");
  RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  gui::Pump(50);
  EXPECT_TRUE(gui::SavePng(gui::CaptureWindow(dialog_), gui::ScreenshotPath("browse-edit-enabled-and-disabled.png")));
  gui::MoveMouseTo(gui::BrowseButtonCentre(field_));
  gui::PressLeft();
  EXPECT_TRUE(gui::SavePng(gui::CaptureWindow(dialog_), gui::ScreenshotPath("browse-edit-pressed.png")));
  gui::ReleaseLeft();
}

}  // namespace
