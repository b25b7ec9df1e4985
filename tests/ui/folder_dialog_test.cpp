// Folders through the real dialog under Wine: a folder dropped onto a field as Explorer drops
// it, worked on beside the dialog like a large file, and the closing box of a repair that
// lists the extra entries it left. The screenshots are the guide's, so the folders are in the
// two people's own folders.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "words/entry_texts.h"
#include "words/step_texts.h"
#include "tests/tree/tree_test.h"
#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/main_window.h"
#include "tests/ui/harness/screenshot.h"
#include "tree/operations.h"
#include "ui/control_ids.h"
#include "ui/background_work.h"
#include "ui/program_state.h"
#include "words/words.h"
#include "platform/win32/wide.h"

namespace {

// What Explorer hands a window that accepts files: a DROPFILES record with the wide paths
// behind it, the point of the drop in the window's client coordinates. The path is UTF-8, as
// the tests' paths are.
void DropOnto(HWND dialog, HWND field, const std::string& path) {
  const std::wstring wide = Wide(path.c_str());
  const size_t bytes = sizeof(DROPFILES) + (wide.size() + 2) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GHND, bytes);
  ASSERT_NE(memory, nullptr);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  RECT area;
  GetWindowRect(field, &area);
  drop->pt = POINT{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
  ScreenToClient(dialog, &drop->pt);
  drop->fNC = FALSE;
  drop->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), wide.c_str(), wide.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  PostMessageW(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
  gui::Pump(50);
}

class FolderDialogTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    InstallMessageBoxSink(nullptr);
    dialog_ = gui::OpenMainDialog();
    ASSERT_NE(dialog_, nullptr);
    catcher_.Ignore(dialog_);
  }
  void TearDown() override {
    gui::CloseMainDialog(dialog_);
    TreeTest::TearDown();
  }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  std::string BrokenFolder() const { return local_.Path("Фото"); }
  std::string ValidFolder() const { return remote_.Path("Фото"); }
  // Clicks Start and pumps until the work on its thread and the box after it are over.
  void RunWork() {
    gui::Click(Item(IDC_START));
    ASSERT_TRUE(gui::PumpUntil([] { return !BackgroundWorkRunning(); }, 60000)) << "the work did not end";
    gui::Pump(100);
  }

  HWND dialog_ = nullptr;
  gui::BoxCatcher catcher_;
  // Иван's broken folder, with the exchange files he makes and saves beside it; Анна's copy.
  ScratchFolder local_{gui::BrokenOwnersFolder()};
  ScratchFolder remote_{gui::ValidOwnersFolder()};
};

TEST_F(FolderDialogTest, AFolderDroppedOntoTheBrokenFileFieldIsScannedBesideTheDialog) {
  const TreeContents tree = {{U8(u8"Отпуск"), kFolderMark}, {U8(u8"Отпуск/море.jpg"), Noise(1, 70000)}, {"notes.txt", "notes"}};
  MakeTree(BrokenFolder(), tree);
  MakeTree(ValidFolder(), tree);
  gui::Click(Item(IDC_MODE_REPAIR));
  gui::Pump(30);

  DropOnto(dialog_, Item(IDC_BROKEN_FILE), BrokenFolder());
  EXPECT_EQ(program.workMode, WorkMode::BrokenScan) << "the field's mode comes with the drop";
  EXPECT_EQ(gui::TextOf(Item(IDC_BROKEN_FILE)), BrokenFolder());
  EXPECT_EQ(gui::TextOf(Item(IDC_OUTPUT_FOLDER)), local_.path());
  RunWork();
  ASSERT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(catcher_.boxes()[0].text, kRussian.dialog.taskDone);

  // The test file describes the folder: the valid copy compared with it is identical.
  const std::string testFile = local_.Path("Фото.crc");
  EXPECT_EQ(ScanValidFolder(ValidFolder().c_str(), testFile.c_str(), remote_.path().c_str(), {}).outcome.ending,
            Ending::Identical);
  EXPECT_EQ(TreeDifference(ReadTree(BrokenFolder()), tree), "");
  gui::SaveWindowPicture(dialog_, "folder-mode-1.png");
}

TEST_F(FolderDialogTest, AFolderRepairRepairsTheFolderAndListsTheExtraFilesItLeft) {
  const TreeContents valid = {{U8(u8"Отпуск"), kFolderMark}, {U8(u8"Отпуск/море.jpg"), Noise(1, 70000)}, {"notes.txt", "notes"}};
  TreeContents broken = valid;
  broken[U8(u8"Отпуск/море.jpg")][5000] ^= 0x20;
  broken.erase("notes.txt");
  broken[U8(u8"Отпуск/копия море.jpg")] = "copy";
  broken[U8(u8"черновик.txt")] = "draft";
  MakeTree(ValidFolder(), valid);
  MakeTree(BrokenFolder(), broken);
  // Steps 1 and 2, with both exchange files where Иван keeps them.
  ASSERT_EQ(ScanBrokenFolder(BrokenFolder().c_str(), local_.path().c_str(), {}).outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValidFolder(ValidFolder().c_str(), local_.Path("Фото.crc").c_str(), local_.path().c_str(), {}).outcome.ending,
            Ending::Done);

  DropOnto(dialog_, Item(IDC_REPAIR_BROKEN_FILE), BrokenFolder());
  DropOnto(dialog_, Item(IDC_REPAIR_FILE), local_.Path("Фото.fix"));
  EXPECT_EQ(program.workMode, WorkMode::Repair);
  catcher_.whileOpen = [&](HWND box, const gui::SeenBox&) {
    // Over the groups of modes 1 and 2, so that the fields of the repair show.
    RECT dialogRect;
    GetWindowRect(dialog_, &dialogRect);
    const POINT above{dialogRect.left + 30, dialogRect.top + 40};
    gui::SaveBoxPicture(dialog_, box, "folder-repair-done.png", &above);
  };
  RunWork();

  ASSERT_EQ(catcher_.boxes().size(), 1u);
  const std::string expected = std::string(kRussian.dialog.taskDone) + "\n\n" + kRussian.dialog.folderExtras +
                               "\nОтпуск\\копия море.jpg\nчерновик.txt";
  EXPECT_EQ(catcher_.boxes()[0].text, expected);
  EXPECT_EQ(catcher_.boxes()[0].caption, kRussian.shared.attention);
  TreeContents expectedTree = valid;
  expectedTree[U8(u8"Отпуск/копия море.jpg")] = "copy";
  expectedTree[U8(u8"черновик.txt")] = "draft";
  EXPECT_EQ(TreeDifference(ReadTree(BrokenFolder()), expectedTree), "");
}

}  // namespace
