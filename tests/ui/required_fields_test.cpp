// The required-field check in a small dialog that routes WM_CTLCOLOREDIT to it, as the main
// dialog does: which fields turn white on red while the box is up (read through the colour
// message and from the screen), and that everything is normal again afterwards.
#include "ui/required_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/dialog_builder.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/screenshot.h"
#include "ui/program_state.h"
#include "words/words.h"

namespace {

constexpr int kFieldIds[3] = {201, 202, 203};
constexpr uint32_t kRed = gui::Rgb(255, 0, 0);
constexpr uint32_t kWhite = gui::Rgb(255, 255, 255);

int colourMessages = 0;

INT_PTR CALLBACK HostProc(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CTLCOLOREDIT) {
    ++colourMessages;
    return static_cast<INT_PTR>(RequiredFieldColours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
  }
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// What the colour rule answers for an edit, and the colours it leaves in the device context.
// (The dialog manager turns an answer of 0 into the system's default brush.)
struct Colours {
  LRESULT brush;
  COLORREF background;
  COLORREF text;
};

Colours AskColours(HWND edit) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetBkColor(dc, RGB(1, 2, 3));
  SetTextColor(dc, RGB(4, 5, 6));
  const LRESULT brush = RequiredFieldColours(dc, edit);
  Colours colours{brush, GetBkColor(dc), GetTextColor(dc)};
  DeleteDC(dc);
  return colours;
}

// The colour of the field's background as painted, a few pixels into its text area.
uint32_t PaintedBackground(HWND edit) {
  RECT client;
  GetClientRect(edit, &client);
  POINT corner{client.right - 3, client.bottom - 3};
  ClientToScreen(edit, &corner);
  RECT window;
  GetWindowRect(edit, &window);
  const RECT pixel{corner.x - window.left, corner.y - window.top, corner.x - window.left + 1,
                   corner.y - window.top + 1};
  return gui::CaptureFromWindow(edit, pixel).At(0, 0);
}

class RequiredFieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramState();
    program.redBrush = CreateSolidBrush(RGB(255, 0, 0));
    dialog_ = gui::DialogBuilder("Fields", 20, 20, 200, 70)
                  .Edit(kFieldIds[0], 10, 10, 170, 13)
                  .Edit(kFieldIds[1], 10, 30, 170, 13)
                  .Edit(kFieldIds[2], 10, 50, 170, 13)
                  .Create(&HostProc);
    ASSERT_NE(dialog_, nullptr);
    for (int i = 0; i < 3; ++i) fields_[i] = GetDlgItem(dialog_, kFieldIds[i]);
    catcher_.Ignore(dialog_);
    gui::Pump(50);
  }

  void TearDown() override {
    DestroyWindow(dialog_);
    DeleteObject(program.redBrush);
  }

  void Fill(const std::vector<std::string>& texts) {
    for (size_t i = 0; i < texts.size(); ++i) gui::SetTextOf(fields_[i], texts[i]);
  }

  HWND dialog_ = nullptr;
  HWND fields_[3] = {};
  gui::BoxCatcher catcher_;
};

TEST_F(RequiredFieldsTest, EmptyFieldsAreRedWhileTheBoxIsUpAndNormalAfterwards) {
  Fill({"C:\\data\\disk.img", "", ""});
  struct Seen {
    Colours colours[3];
    uint32_t painted[3];
    HWND slots[3];
  } seen{};
  catcher_.whileOpen = [&](HWND box, const gui::SeenBox&) {
    for (int i = 0; i < 3; ++i) {
      seen.colours[i] = AskColours(fields_[i]);
      seen.painted[i] = PaintedBackground(fields_[i]);
      seen.slots[i] = program.highlightSlots[i];
    }
    // Move the box off the fields, as a user might, to see them repainted red.
    SetWindowPos(box, nullptr, 400, 400, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    gui::Pump(120);
    gui::SavePng(gui::CaptureWindow(dialog_), gui::ScreenshotPath("required-fields-flagged.png"));
  };
  const uint32_t before = PaintedBackground(fields_[0]);

  EXPECT_EQ(CheckRequiredFields(dialog_, fields_[0], fields_[1], fields_[2]), 0);

  ASSERT_EQ(catcher_.boxes().size(), 1u);
  const gui::SeenBox& box = catcher_.boxes()[0];
  EXPECT_EQ(box.caption, kRussian.dialog.attentionExclaimed);
  EXPECT_EQ(box.text, kRussian.dialog.fillAllFields);
  EXPECT_EQ(box.icon, gui::BoxIcon::Error);
  EXPECT_EQ(box.owner, dialog_);

  // While the box was up: the filled field normal, the two empty ones red.
  EXPECT_EQ(seen.colours[0].brush, 0) << "an edit in no slot gets the default colours";
  EXPECT_EQ(seen.colours[0].background, RGB(1, 2, 3));
  EXPECT_EQ(seen.painted[0], before);
  EXPECT_EQ(seen.slots[0], nullptr);
  for (int i : {1, 2}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen.slots[i], fields_[i]);
    EXPECT_EQ(seen.colours[i].brush, reinterpret_cast<LRESULT>(program.redBrush));
    EXPECT_EQ(seen.colours[i].background, RGB(255, 0, 0));
    EXPECT_EQ(seen.colours[i].text, RGB(255, 255, 255));
    EXPECT_EQ(seen.painted[i], kRed);
  }

  // Closed: every slot empty and every field painted normal again.
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(program.highlightSlots[i], nullptr);
    EXPECT_EQ(AskColours(fields_[i]).brush, 0);
    EXPECT_EQ(PaintedBackground(fields_[i]), kWhite);
  }
  EXPECT_EQ(gui::TextOf(fields_[0]), "C:\\data\\disk.img") << "texts are never changed";
}

TEST_F(RequiredFieldsTest, OnlyALengthOfZeroIsEmptyAndANullFieldIsNeverExamined) {
  struct Case {
    const char* name;
    std::vector<std::string> texts;
    bool thirdGiven;
    int result;
    std::vector<int> flagged;
  };
  const Case cases[] = {
      {"mode 1, both filled", {"a", "b", ""}, false, 1, {}},
      {"mode 1, output folder empty, third empty but not given", {"a", "", ""}, false, 0, {1}},
      {"mode 2, all filled", {"a", "b", "c"}, true, 1, {}},
      {"a single space counts as filled", {" ", " ", " "}, true, 1, {}},
      {"mode 3, both empty", {"", "", ""}, false, 0, {0, 1}},
      {"mode 2, all empty", {"", "", ""}, true, 0, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fill(c.texts);
    gui::Pump(30);
    std::vector<int> flagged;
    catcher_.whileOpen = [&](HWND, const gui::SeenBox&) {
      for (int i = 0; i < 3; ++i) {
        if (program.highlightSlots[i] != nullptr) flagged.push_back(i);
      }
    };
    const size_t boxesBefore = catcher_.boxes().size();
    colourMessages = 0;
    const int result = CheckRequiredFields(dialog_, fields_[0], fields_[1], c.thirdGiven ? fields_[2] : nullptr);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(flagged, c.flagged);
    EXPECT_EQ(catcher_.boxes().size() - boxesBefore, c.result == 1 ? 0u : 1u);
    if (c.result == 1) {
      EXPECT_EQ(colourMessages, 0) << "a passing check repaints nothing";
    }
  }
}

}  // namespace
