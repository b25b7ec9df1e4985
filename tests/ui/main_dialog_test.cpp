// The real dialog, driven as a user drives it: the paths typed into the fields, Start
// pressed, the status bar, the boxes and the files on disk watched.
#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/messages.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "tests/testing/scratch_folder.h"
#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/main_window.h"
#include "tests/ui/harness/screenshot.h"
#include "ui/browse_edit.h"
#include "ui/control_ids.h"
#include "ui/program_state.h"
#include "ui/ui_texts.h"

namespace {

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallMessageBoxSink(nullptr);
    dialog_ = gui::OpenMainDialog();
    ASSERT_NE(dialog_, nullptr);
    catcher_.Ignore(dialog_);
  }
  void TearDown() override {
    gui::CloseMainDialog(dialog_);
    ClearFaults();
  }

  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  std::string State() const { return gui::StatusText(Item(IDC_STATUS_BAR), 0); }
  std::string Mode() const { return gui::StatusText(Item(IDC_STATUS_BAR), 1); }
  // Presses Start and returns once its work (and every box it showed) is over.
  void PressStart() {
    gui::Click(Item(IDC_START));
    gui::Pump(100);
  }

  HWND dialog_ = nullptr;
  gui::BoxCatcher catcher_;
  ScratchFolder folder_;
};

TEST_F(MainDialogTest, BrokenFileScanEndToEnd) {
  const Bytes broken = RandomBytes(1, 3 * 4096 + 100);
  folder_.Write("disk.img", broken);
  gui::TypeInto(Item(IDC_BROKEN_FILE), folder_.Path("disk.img"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), folder_.path());
  std::string stateWhileWorking;
  catcher_.whileOpen = [&](HWND, const gui::SeenBox&) { stateWhileWorking = State(); };
  PressStart();
  ASSERT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(catcher_.boxes()[0].caption, ui_text::kAttention);
  EXPECT_EQ(catcher_.boxes()[0].text, ui_text::kTaskDone);
  EXPECT_EQ(catcher_.boxes()[0].icon, gui::BoxIcon::None);
  EXPECT_EQ(State(), ui_text::kReady);
  EXPECT_TRUE(folder_.Exists("disk.crc"));
}

}  // namespace
