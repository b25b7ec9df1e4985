// The browse buttons of the real dialog with the platform's real choosers: the chooser is
// found when it opens, read as the user sees it, and answered by typing a name, picking a
// folder and pressing its buttons; then the fields and the files on disk are looked at.
#include <windows.h>

#include <commdlg.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/wide.h"
#include "tests/testing/scratch_folder.h"
#include "tests/ui/harness/box_catcher.h"
#include "tests/ui/harness/choosers_driver.h"
#include "tests/ui/harness/gui_driver.h"
#include "tests/ui/harness/main_window.h"
#include "tests/ui/harness/screenshot.h"
#include "ui/choosers.h"
#include "ui/control_ids.h"
#include "ui/program_state.h"
#include "words/words.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kAllFiles = "Все файлы (*.*)";
const std::string kTestFiles = "Тестовые файлы (*.crc)";
const std::string kRepairFiles = "Ремонтные файлы (*.fix)";

// What each browse command works on: its field, the neighbour whose folder it starts in, the
// mode radio that enables the field.
struct FileCommand {
  int command;
  int field;
  int neighbour;  // 0: none
  int modeRadio;
  bool fillsOutputFolder;
  Strings fileTypes;
};

const FileCommand kFileCommands[] = {
    {CMD_BROWSE_BROKEN_FILE, IDC_BROKEN_FILE, 0, IDC_MODE_BROKEN_SCAN, true, {kAllFiles}},
    {CMD_BROWSE_VALID_FILE, IDC_VALID_FILE, IDC_TEST_FILE, IDC_MODE_VALID_SCAN, true, {kAllFiles}},
    {CMD_BROWSE_TEST_FILE, IDC_TEST_FILE, IDC_VALID_FILE, IDC_MODE_VALID_SCAN, false, {kTestFiles, kAllFiles}},
    {CMD_BROWSE_REPAIR_BROKEN_FILE, IDC_REPAIR_BROKEN_FILE, IDC_REPAIR_FILE, IDC_MODE_REPAIR, false, {kAllFiles}},
    {CMD_BROWSE_REPAIR_FILE, IDC_REPAIR_FILE, IDC_REPAIR_BROKEN_FILE, IDC_MODE_REPAIR, false, {kRepairFiles, kAllFiles}},
};

const FileCommand& CommandOf(int command) { return kFileCommands[command - 1]; }

constexpr int kFileFields[] = {IDC_BROKEN_FILE,        IDC_VALID_FILE,  IDC_TEST_FILE,
                               IDC_REPAIR_BROKEN_FILE, IDC_REPAIR_FILE, IDC_OUTPUT_FOLDER};

std::string ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD units = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::string folder = Utf8(path, units);
  return folder.substr(0, folder.rfind('\\'));
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  const std::wstring x = Wide(a.c_str()), y = Wide(b.c_str());
  return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(), static_cast<int>(y.size()), TRUE) ==
         CSTR_EQUAL;
}

// A literal's bytes with its inner zeros, without the terminating one.
template <size_t N>
std::string Literal(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::string LastComponent(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// A folder at the root of drive C:, which is the test prefix's own. The folder browser here
// does not reliably find folders under the user's temporary folder when asked to select
// them, so the browser's tests keep to this one.
class RootFolder {
 public:
  RootFolder() : path_("C:\\varnell-chooser-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(count_++)) {
    CreateDirectoryW(Wide(path_.c_str()).c_str(), nullptr);
  }
  ~RootFolder() {
    for (const std::string& folder : folders_) RemoveDirectoryW(Wide(folder.c_str()).c_str());
    RemoveDirectoryW(Wide(path_.c_str()).c_str());
  }
  RootFolder(const RootFolder&) = delete;
  RootFolder& operator=(const RootFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string MakeFolder(const std::string& name) const {
    folders_.push_back(path_ + "\\" + name);
    CreateDirectoryW(Wide(folders_.back().c_str()).c_str(), nullptr);
    return folders_.back();
  }

 private:
  static inline int count_ = 0;
  std::string path_;
  mutable Strings folders_;
};

bool MessageBoxOpen() {
  bool open = false;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM found) {
        if (IsWindowVisible(window) && gui::IsMessageBox(window)) *reinterpret_cast<bool*>(found) = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&open));
  return open;
}

class ChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog_ = gui::OpenMainDialog();
    ASSERT_NE(dialog_, nullptr);
    catcher_.Ignore(dialog_);
  }
  void TearDown() override {
    gui::CloseMainDialog(dialog_);
    // The chooser moves the process into the chosen file's folder, which would keep the
    // scratch folder from being removed.
    SetCurrentDirectoryW(Wide(ProgramFolder().c_str()).c_str());
  }

  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  std::string Text(int id) const { return gui::TextOf(Item(id)); }
  void SetText(int id, const std::string& text) { gui::SetTextOf(Item(id), text); }
  void SwitchMode(int radio) { gui::Click(Item(radio)); }

  // Presses the field's browse button and hands every chooser window that opens to act, at
  // each tick of the catcher until act returns true (done with it). Returns once the chooser
  // is closed and the command has finished; false when no chooser opened.
  bool Browse(int field, const std::function<bool(HWND)>& act) {
    bool opened = false;
    const DWORD deadline = GetTickCount() + 10000;
    catcher_.onOtherDialog = [&](HWND chooser) {
      opened = true;
      if (act(chooser)) return true;
      if (static_cast<LONG>(deadline - GetTickCount()) > 0) return false;
      // A test that lost its way must not leave the chooser's loop running for ever.
      ADD_FAILURE() << "the chooser was left open";
      PostMessageW(chooser, WM_COMMAND, IDCANCEL, 0);
      return true;
    };
    gui::PressBrowseButton(Item(field));
    const bool done = gui::PumpUntil([&] { return opened && IsWindowEnabled(dialog_); }, 12000);
    catcher_.onOtherDialog = nullptr;
    return done;
  }

  // A command whose chooser is answered with a typed name and Open; a chooser that refuses
  // the name with a box is a failure, and is cancelled.
  bool ChooseFile(int field, const std::string& name) {
    bool pressed = false;
    return Browse(field, [&](HWND chooser) {
      if (!pressed) {
        gui::TypeFileName(chooser, name);
        gui::QueueDialogButtonPress(chooser, IDOK);
        pressed = true;
        return false;
      }
      if (!IsWindowVisible(chooser)) return true;
      if (catcher_.boxes().empty() || MessageBoxOpen()) return false;
      ADD_FAILURE() << "the chooser refused " << name << ": " << catcher_.boxes().back().text;
      gui::PressDialogButton(chooser, IDCANCEL);
      return true;
    });
  }

  // A command whose chooser is only looked at, then cancelled.
  bool LookAndCancel(int field, gui::OpenFileChooserView& view) {
    return Browse(field, [&](HWND chooser) {
      gui::PumpUntil([&] { return !gui::ReadOpenFileChooser(chooser).folder.empty(); }, 2000);
      gui::Pump(50);
      view = gui::ReadOpenFileChooser(chooser);
      gui::PressDialogButton(chooser, IDCANCEL);
      return true;
    });
  }

  HWND dialog_ = nullptr;
  gui::BoxCatcher catcher_;
  ScratchFolder folder_;
};

TEST_F(ChooserTest, BrokenFileChosenWithAllFieldsEmptyFillsTheOutputFolder) {
  folder_.Write("disk.img", Bytes(10, 1));
  gui::OpenFileChooserView view;
  ASSERT_TRUE(Browse(IDC_BROKEN_FILE, [&](HWND chooser) {
    gui::Pump(250);
    view = gui::ReadOpenFileChooser(chooser);
    gui::SavePng(gui::CaptureWindow(chooser), gui::ScreenshotPath("chooser-open-file.png"));
    gui::TypeFileName(chooser, folder_.Path("disk.img"));
    gui::PressDialogButton(chooser, IDOK);
    return true;
  }));
  EXPECT_EQ(view.title, kRussian.dialog.chooseFile);
  EXPECT_EQ(view.fileName, "");
  EXPECT_EQ(Text(IDC_BROKEN_FILE), folder_.Path("disk.img"));
  EXPECT_EQ(Text(IDC_OUTPUT_FOLDER), folder_.path());
  EXPECT_TRUE(catcher_.boxes().empty());
}

TEST_F(ChooserTest, FileAtADriveRootFillsTheBareDrive) {
  // Drive C: is the test prefix's own folder, which the test user may write to.
  const std::string name = "C:\\varnell-chooser-" + std::to_string(GetCurrentProcessId()) + ".img";
  std::FILE* file = OpenPath(name, "wb");
  ASSERT_NE(file, nullptr) << name;
  std::fclose(file);
  EXPECT_TRUE(ChooseFile(IDC_BROKEN_FILE, name));
  std::remove(name.c_str());
  EXPECT_EQ(Text(IDC_BROKEN_FILE), name);
  EXPECT_EQ(Text(IDC_OUTPUT_FOLDER), "C:");
}

TEST_F(ChooserTest, OnlyBrokenAndValidFileFillAnEmptyOutputFolderAndNoneChangesASetOne) {
  folder_.Write("chosen.bin", Bytes(3, 7));
  const std::string chosen = folder_.Path("chosen.bin");
  const std::string setFolder = "Q:\\set by the user";
  for (const FileCommand& command : kFileCommands) {
    for (const std::string& outputBefore : {std::string(), setFolder}) {
      SCOPED_TRACE("command " + std::to_string(command.command) + ", output folder [" + outputBefore + "]");
      for (int field : kFileFields) SetText(field, "");
      SetText(IDC_OUTPUT_FOLDER, outputBefore);
      SwitchMode(command.modeRadio);
      ASSERT_TRUE(ChooseFile(command.field, chosen));
      EXPECT_EQ(Text(command.field), chosen);
      const std::string expectedOutput =
          outputBefore.empty() && command.fillsOutputFolder ? folder_.path() : outputBefore;
      EXPECT_EQ(Text(IDC_OUTPUT_FOLDER), expectedOutput);
      for (int field : kFileFields) {
        if (field != command.field && field != IDC_OUTPUT_FOLDER) {
          EXPECT_EQ(Text(field), "") << field;
        }
      }
    }
  }
}

TEST_F(ChooserTest, CancelLeavesTheFieldsFormerText) {
  struct Case {
    int command;
    std::string former;
    std::string outputAfter;  // the output folder was empty before
  };
  // Command 1 still fills an empty output folder from the text the field keeps.
  const Case cases[] = {
      {CMD_BROWSE_BROKEN_FILE, "", ""},
      {CMD_BROWSE_BROKEN_FILE, "C:\\data\\disk.img", "C:\\data"},
      {CMD_BROWSE_TEST_FILE, "C:\\data\\disk.crc", ""},
      {CMD_BROWSE_REPAIR_FILE, "C:\\data\\disk.fix", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("command " + std::to_string(c.command) + " [" + c.former + "]");
    const FileCommand& command = CommandOf(c.command);
    SetText(IDC_OUTPUT_FOLDER, "");
    SetText(command.field, c.former);
    SwitchMode(command.modeRadio);
    ASSERT_TRUE(Browse(command.field, [&](HWND chooser) {
      gui::TypeFileName(chooser, folder_.Path("typed but cancelled.img"));
      gui::PressDialogButton(chooser, IDCANCEL);
      return true;
    }));
    EXPECT_EQ(Text(command.field), c.former);
    EXPECT_EQ(Text(IDC_OUTPUT_FOLDER), c.outputAfter);
  }
}

// The chooser hands back at most 519 characters of the field's 520; a cancel must not write
// them over the field.
TEST_F(ChooserTest, CancelNeverCutsAFullField) {
  const std::string full = "C:\\" + std::string(513, 'f') + ".img";
  ASSERT_EQ(full.size(), 520u);
  for (const FileCommand& command : kFileCommands) {
    SCOPED_TRACE("command " + std::to_string(command.command));
    SetText(IDC_OUTPUT_FOLDER, "Q:\\out");
    SetText(command.field, full);
    ASSERT_EQ(Text(command.field), full);
    SwitchMode(command.modeRadio);
    ASSERT_TRUE(Browse(command.field, [&](HWND chooser) {
      gui::PressDialogButton(chooser, IDCANCEL);
      return true;
    }));
    EXPECT_EQ(Text(command.field), full);
  }
}

TEST_F(ChooserTest, TypedNameOfAMissingFileInAnExistingFolderIsAccepted) {
  ASSERT_TRUE(ChooseFile(IDC_BROKEN_FILE, folder_.Path("нет такого.img")));
  EXPECT_EQ(Text(IDC_BROKEN_FILE), folder_.Path("нет такого.img"));
  EXPECT_EQ(Text(IDC_OUTPUT_FOLDER), folder_.path());
  EXPECT_FALSE(folder_.Exists("нет такого.img"));
}

TEST_F(ChooserTest, NameInAMissingFolderIsRefusedByTheChooser) {
  SetText(IDC_BROKEN_FILE, folder_.Path("former.img"));
  SetText(IDC_OUTPUT_FOLDER, folder_.path());
  int stage = 0;
  ASSERT_TRUE(Browse(IDC_BROKEN_FILE, [&](HWND chooser) {
    if (stage == 0) {
      gui::TypeFileName(chooser, folder_.Path("no such folder\\disk.img"));
      gui::QueueDialogButtonPress(chooser, IDOK);
      stage = 1;
      return false;
    }
    if (catcher_.boxes().empty() || MessageBoxOpen()) return false;
    EXPECT_TRUE(IsWindowVisible(chooser));
    gui::PressDialogButton(chooser, IDCANCEL);
    return true;
  }));
  EXPECT_EQ(catcher_.boxes().size(), 1u);
  EXPECT_EQ(Text(IDC_BROKEN_FILE), folder_.Path("former.img"));
}

TEST_F(ChooserTest, EachFileCommandOpensWithItsOwnFilterInItsStartFolder) {
  const Strings listedFor[] = {{}, {"a.crc", "b.fix", "c.img"}, {"a.crc"}, {"a.crc", "b.fix", "c.img"}, {"b.fix"}};
  for (const FileCommand& command : kFileCommands) {
    SCOPED_TRACE("command " + std::to_string(command.command));
    // A folder of its own for each command, so that one left over from the command before
    // cannot pass for it. The neighbour's file need not exist: only its folder counts.
    const std::string folderName = "начало " + std::to_string(command.command);
    const std::string start = folder_.MakeFolder(folderName);
    for (const char* name : {"a.crc", "b.fix", "c.img"}) folder_.Write(folderName + "\\" + name, Bytes(1, 0));
    for (int field : kFileFields) SetText(field, "");
    if (command.neighbour != 0) SetText(command.neighbour, start + "\\neighbour.dat");
    SwitchMode(command.modeRadio);
    gui::OpenFileChooserView view;
    ASSERT_TRUE(LookAndCancel(command.field, view));
    EXPECT_EQ(view.fileTypes, command.fileTypes);
    EXPECT_EQ(view.selectedFileType, command.fileTypes[0]);
    // Command 1 starts in the program's folder, the others in their neighbour's.
    const std::string expectedStart = command.neighbour == 0 ? ProgramFolder() : start;
    EXPECT_TRUE(SameIgnoringCase(view.folder, expectedStart)) << view.folder;
    EXPECT_EQ(program.initialFolder, expectedStart);
    if (command.neighbour != 0) {
      EXPECT_EQ(view.listedNames, listedFor[command.command - 1]);
    }
  }
}

TEST_F(ChooserTest, WithFieldAndNeighbourEmptyTheStartFolderCarriesOver) {
  const std::string first = folder_.MakeFolder("first");
  const std::string second = folder_.MakeFolder("second");
  gui::OpenFileChooserView view;

  // Nothing set it yet: the chooser gets an empty start folder.
  SwitchMode(IDC_MODE_VALID_SCAN);
  ASSERT_TRUE(LookAndCancel(IDC_VALID_FILE, view));
  EXPECT_STREQ(program.initialFolder, "");
  EXPECT_EQ(program.openFileRequest.lpstrInitialDir, program.chooserFolder);
  EXPECT_EQ(program.chooserFolder[0], L'\0');

  SetText(IDC_VALID_FILE, first + "\\valid.img");
  ASSERT_TRUE(LookAndCancel(IDC_TEST_FILE, view));
  EXPECT_EQ(view.folder, first);
  SetText(IDC_VALID_FILE, "");

  SwitchMode(IDC_MODE_REPAIR);
  ASSERT_TRUE(LookAndCancel(IDC_REPAIR_FILE, view));
  EXPECT_EQ(view.folder, first);
  EXPECT_EQ(program.initialFolder, first);

  // A field that is not empty proposes its own text and leaves the start folder alone.
  SetText(IDC_REPAIR_BROKEN_FILE, second + "\\broken.img");
  SetText(IDC_REPAIR_FILE, second + "\\missing.fix");
  ASSERT_TRUE(LookAndCancel(IDC_REPAIR_BROKEN_FILE, view));
  EXPECT_EQ(program.initialFolder, first);
  EXPECT_NE(view.fileName.find("broken.img"), std::string::npos) << view.fileName;
}

TEST_F(ChooserTest, RequestIsFilledAsTheChooserNeedsIt) {
  folder_.Write("disk.crc", Bytes(4, 0));
  SwitchMode(IDC_MODE_VALID_SCAN);
  // The chooser writes its own bits into Flags on its way; the program's are read while it is up.
  DWORD flagsWhileOpen = 0;
  ASSERT_TRUE(Browse(IDC_TEST_FILE, [&](HWND chooser) {
    flagsWhileOpen = program.openFileRequest.Flags;
    gui::TypeFileName(chooser, folder_.Path("disk.crc"));
    gui::PressDialogButton(chooser, IDOK);
    return true;
  }));
  EXPECT_TRUE(catcher_.boxes().empty());
  const OPENFILENAMEW& request = program.openFileRequest;
  const DWORD platformBits = OFN_READONLY | OFN_EXTENSIONDIFFERENT | OFN_ENABLESIZING;
  EXPECT_EQ(flagsWhileOpen & ~platformBits, 0x80806u);
  EXPECT_EQ(request.lStructSize, OPENFILENAME_SIZE_VERSION_400W);
  EXPECT_EQ(request.hwndOwner, dialog_);
  EXPECT_EQ(request.hInstance, GetModuleHandleW(nullptr));
  EXPECT_EQ(request.nFilterIndex, 1u);
  EXPECT_EQ(request.lpstrFile, program.chooserPath);
  // The buffers' real sizes, a field's 520 units: a path of 260 to 519 units arrives whole.
  EXPECT_EQ(request.nMaxFile, 520u);
  EXPECT_EQ(request.lpstrFileTitle, program.fileTitle);
  EXPECT_EQ(request.nMaxFileTitle, 520u);
  EXPECT_EQ(std::wstring(program.fileTitle), L"disk.crc");
  EXPECT_EQ(request.lpstrInitialDir, program.chooserFolder);
  EXPECT_EQ(std::wstring(request.lpstrTitle), L"Выберите файл для открытия.");
  EXPECT_EQ(request.lpstrCustomFilter, nullptr);
  EXPECT_EQ(request.lpstrDefExt, nullptr);
  EXPECT_EQ(request.lpfnHook, nullptr);
  EXPECT_EQ(request.lpTemplateName, nullptr);

  // The chooser gets the list in UTF-16, ending with one more zero after its last pattern's own.
  constexpr wchar_t kWideList[] = L"Тестовые файлы (*.crc)\0*.crc\0Все файлы (*.*)\0*.*\0";
  const std::wstring testFiles(kWideList, sizeof kWideList / sizeof kWideList[0]);
  EXPECT_EQ(std::wstring(request.lpstrFilter, testFiles.size()), testFiles);
  // The lists as the program makes them from each table, in UTF-8.
  const struct {
    ChooserFilter filter;
    const Words& words;
    std::string bytes;
  } filters[] = {
      {ChooserFilter::AllFiles, kRussian, Literal("Все файлы (*.*)\0*.*\0\0")},
      {ChooserFilter::TestFiles, kRussian, Literal("Тестовые файлы (*.crc)\0*.crc\0Все файлы (*.*)\0*.*\0\0")},
      {ChooserFilter::RepairFiles, kRussian, Literal("Ремонтные файлы (*.fix)\0*.fix\0Все файлы (*.*)\0*.*\0\0")},
      {ChooserFilter::TestFiles, kEnglish, Literal("Test files (*.crc)\0*.crc\0All files (*.*)\0*.*\0\0")},
  };
  // c_str() shows the zero that ends the list.
  for (const auto& f : filters) {
    EXPECT_EQ(std::string(FilterList(f.filter, f.words).c_str(), f.bytes.size()), f.bytes);
  }
}

TEST_F(ChooserTest, FolderBrowserShowsTheOutputFolderAndWritesTheChosenOne) {
  const RootFolder base;
  const std::string chosen = base.MakeFolder("выход");
  SetText(IDC_OUTPUT_FOLDER, base.path());
  gui::FolderBrowserView opened, picked;
  ASSERT_TRUE(Browse(IDC_OUTPUT_FOLDER, [&](HWND browser) {
    // The preselection is posted, so it arrives after the browser is up.
    gui::PumpUntil([&] {
      const gui::FolderBrowserView view = gui::ReadFolderBrowser(browser);
      return !view.selectedPath.empty() && view.selectedPath.back() == LastComponent(base.path());
    });
    opened = gui::ReadFolderBrowser(browser);
    EXPECT_TRUE(gui::PickChildFolder(browser, "выход"));
    gui::Pump(150);
    picked = gui::ReadFolderBrowser(browser);
    gui::SavePng(gui::CaptureWindow(browser), gui::ScreenshotPath("chooser-folder.png"));
    gui::PressDialogButton(browser, IDOK);
    return true;
  }));
  EXPECT_EQ(opened.titleLine, base.path());
  EXPECT_EQ(opened.statusLine, kRussian.dialog.chooseFolder);
  ASSERT_FALSE(opened.selectedPath.empty());
  EXPECT_EQ(opened.selectedPath.back(), LastComponent(base.path()));
  // The drives are the tree's top level, under the one root item.
  EXPECT_EQ(opened.rootItems.size(), 1u);
  bool driveC = false;
  for (const std::string& item : opened.rootChildren) driveC |= item.find("(C:)") != std::string::npos;
  EXPECT_TRUE(driveC) << ::testing::PrintToString(opened.rootChildren);

  ASSERT_FALSE(picked.selectedPath.empty());
  EXPECT_EQ(picked.selectedPath.back(), "выход");
  EXPECT_EQ(picked.statusLine, kRussian.dialog.chooseFolder);
  EXPECT_EQ(Text(IDC_OUTPUT_FOLDER), chosen);
}

TEST_F(ChooserTest, FolderBrowserCancelOrOkWithoutAChangeKeepsTheOutputFolder) {
  struct Case {
    std::string output;
    int button;
  };
  const RootFolder set;
  const Case cases[] = {{set.path(), IDCANCEL}, {"", IDCANCEL}, {set.path(), IDOK}};
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.output + "] " + std::to_string(c.button));
    SetText(IDC_OUTPUT_FOLDER, c.output);
    gui::FolderBrowserView view;
    ASSERT_TRUE(Browse(IDC_OUTPUT_FOLDER, [&](HWND browser) {
      if (!c.output.empty()) {
        gui::PumpUntil([&] {
          const gui::FolderBrowserView now = gui::ReadFolderBrowser(browser);
          return !now.selectedPath.empty() && now.selectedPath.back() == LastComponent(c.output);
        });
      }
      gui::Pump(50);
      view = gui::ReadFolderBrowser(browser);
      gui::PressDialogButton(browser, c.button);
      return true;
    }));
    EXPECT_EQ(view.titleLine, c.output);
    EXPECT_EQ(view.statusLine, kRussian.dialog.chooseFolder);
    EXPECT_EQ(Text(IDC_OUTPUT_FOLDER), c.output);
  }
}

}  // namespace
