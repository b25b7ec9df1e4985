// Names outside the ANSI code page, in the real dialog on Windows of three languages: the suite
// runs with the code pages of ru_RU.UTF-8, en_US.UTF-8 and ja_JP.UTF-8 (1251, 1252 and 932) and a
// Russian display language.
// A name is typed into its field letter by letter as a user types it, and the files on disk show
// which file was read and written.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/testing/reference.h"
#include "tests/testing/scratch_folder.h"
#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/main_window.h"
#include "ui/background_work.h"
#include "ui/control_ids.h"
#include "words/words.h"
#include "words/step_texts.h"

namespace {

// The ANSI code page the locale the tests run under gives a Windows program (LC_CTYPE to Wine).
UINT CodePageOfTheLocale() {
  const char* locale = std::getenv("LC_CTYPE");
  const std::string name = locale != nullptr ? locale : "";
  if (name.rfind("en_US", 0) == 0) return 1252;
  if (name.rfind("ja_JP", 0) == 0) return 932;
  return 1251;
}

class NamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), CodePageOfTheLocale()) << "the locale did not reach the program";
    // Under every code page the display language stays Russian, and so do the words.
    ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), LANG_RUSSIAN);
    dialog_ = gui::OpenMainDialog();
    ASSERT_NE(dialog_, nullptr);
    catcher_.Ignore(dialog_);
  }
  void TearDown() override { gui::CloseMainDialog(dialog_); }

  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  // Clicks Start and waits for the work, beside the dialog or not, and the box after it.
  void Start() {
    const size_t before = catcher_.boxes().size();
    gui::Click(Item(IDC_START));
    ASSERT_TRUE(gui::PumpUntil([&] { return !BackgroundWorkRunning() && catcher_.boxes().size() > before; }, 60000));
    gui::Pump(50);
  }
  void ExpectTaskDone() const {
    ASSERT_FALSE(catcher_.boxes().empty());
    EXPECT_EQ(catcher_.boxes().back().caption, kRussian.shared.attention);
    EXPECT_EQ(catcher_.boxes().back().text, kRussian.dialog.taskDone) << "code page " << GetACP();
  }

  HWND dialog_ = nullptr;
  gui::BoxCatcher catcher_;
  ScratchFolder folder_;
  ScratchFolder out_;
};

// Café.txt beside Cafe.txt: the scan reads the file named, and the repair writes it, never the
// look-alike a code page without é would have turned the name into.
TEST_F(NamesTest, ModesOneAndThreeTakeTheNamedFileAndLeaveItsLookAlike) {
  const Bytes named = RandomBytes(1, 3 * 4096 + 5);
  const Bytes lookAlike = RandomBytes(2, 3 * 4096 + 5);
  folder_.Write("Café.txt", named);
  folder_.Write("Cafe.txt", lookAlike);

  gui::TypeInto(Item(IDC_BROKEN_FILE), folder_.Path("Café.txt"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), out_.path());
  Start();
  ExpectTaskDone();
  EXPECT_EQ(out_.Read("Café.crc"), ReferenceTestFile(named));
  EXPECT_FALSE(out_.Exists("Cafe.crc"));

  Bytes valid = named;
  valid[4096 + 7] ^= 0x5A;
  folder_.Write("Café.fix", ReferenceRepairFile(valid, ReferenceTestFile(named)));
  gui::Click(Item(IDC_MODE_REPAIR));
  gui::TypeInto(Item(IDC_REPAIR_FILE), folder_.Path("Café.fix"));
  Start();
  ExpectTaskDone();
  EXPECT_EQ(folder_.Read("Café.txt"), valid);
  EXPECT_EQ(folder_.Read("Cafe.txt"), lookAlike);
  EXPECT_FALSE(folder_.Exists("Cafe.crc")) << "no follow-up for a look-alike";
}

// The second byte of 表 is a backslash in code page 932; the name routines see UTF-8, where no
// byte of a longer letter is one.
TEST_F(NamesTest, AJapaneseNameGivesATestFileOfTheSameName) {
  const Bytes contents = RandomBytes(3, 4096 + 1);
  folder_.Write("表.txt", contents);
  gui::TypeInto(Item(IDC_BROKEN_FILE), folder_.Path("表.txt"));
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), out_.path());
  Start();
  ExpectTaskDone();
  EXPECT_EQ(out_.Names(), (std::vector<std::string>{"表.crc"}));
  EXPECT_EQ(out_.Read("表.crc"), ReferenceTestFile(contents));
}

// A folder whose own path holds letters that no Cyrillic code page has: its top path reaches
// the system in UTF-16 too.
TEST_F(NamesTest, AFolderWhosePathHasGreekLettersIsScannedWhole) {
  const std::string folder = folder_.MakeFolder("Ελλάδα ü");
  folder_.Write("Ελλάδα ü\\θάλασσα.jpg", RandomBytes(4, 9000));
  gui::TypeInto(Item(IDC_BROKEN_FILE), folder);
  gui::TypeInto(Item(IDC_OUTPUT_FOLDER), out_.path());
  Start();
  ExpectTaskDone();
  EXPECT_EQ(out_.Names(), (std::vector<std::string>{"Ελλάδα ü.crc"}));
}

// The dialog's words as they reach the screen: the template's, the status bar's and a box's
// read the same Russian under every code page, 1252 of an English Windows among them.
TEST_F(NamesTest, TheWordsReadAsTheRussianTextsUnderEveryCodePage) {
  EXPECT_EQ(gui::TextOf(Item(IDC_LABEL_TEST_FILE)), "Контрольный файл (*.crc):");
  EXPECT_EQ(gui::TextOf(Item(IDC_MODE_VALID_SCAN)), "Режим сканирования валидного файла");
  EXPECT_EQ(gui::StatusText(Item(IDC_STATUS_BAR), 0), kRussian.dialog.ready);
  EXPECT_EQ(gui::StatusText(Item(IDC_STATUS_BAR), 1), kRussian.dialog.modeBrokenScan);
  gui::Click(Item(IDC_START));
  gui::Pump(100);
  ASSERT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(catcher_.boxes()[0].caption, kRussian.dialog.attentionExclaimed);
  EXPECT_EQ(catcher_.boxes()[0].text, kRussian.dialog.fillAllFields) << "code page " << GetACP();
}

}  // namespace
