// varnell.exe as a user gets it: one file copied into any folder, started, its window found
// by its caption, closed, and the process's exit code read; and the manifest both programs
// carry, as the system reads it and as it takes effect.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "platform/win32/wide.h"
#include "ui/control_ids.h"
#include "words/words.h"
#include "tests/testing/scratch_folder.h"

namespace {

// The first top-level window of a process that accept takes.
template <typename Accept>
HWND FindWindowOf(DWORD processId, Accept accept) {
  struct Search {
    DWORD processId;
    Accept* accept;
    HWND found;
  } search{processId, &accept, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s->processId || !(*s->accept)(window)) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The program's window.
HWND FindProgramWindow(DWORD processId) {
  return FindWindowOf(processId, [](HWND window) {
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    return IsWindowVisible(window) && std::string(caption) == "Varnell v1.0 beta";
  });
}

// A program of the build, named by its path on the build machine, which Wine shows as drive Z:.
std::string Built(const char* program) {
  std::string path = std::string("Z:") + program;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string BuiltProgram() { return Built(VARNELL_EXE); }

// Whether the process has loaded the common controls of version 6, which only a manifest that
// asks for them gives it (from the side-by-side store, not the system folder).
bool UsesCommonControls6(HANDLE process) {
  HMODULE modules[512];
  DWORD bytes = 0;
  if (!K32EnumProcessModules(process, modules, sizeof modules, &bytes)) return false;
  for (DWORD i = 0; i < bytes / sizeof modules[0]; ++i) {
    wchar_t name[MAX_PATH] = {};
    const DWORD units = K32GetModuleFileNameExW(process, modules[i], name, MAX_PATH);
    std::wstring path(name, units);
    for (wchar_t& c : path) c = static_cast<wchar_t>(towlower(c));
    if (path.find(L"common-controls") != std::wstring::npos && path.find(L"_6.0.") != std::wstring::npos &&
        path.find(L"comctl32.dll") != std::wstring::npos) {
      return true;
    }
  }
  return false;
}

// The application manifest of a program file, as the system finds it: resource 1 of type 24.
std::string ManifestOf(const std::string& program) {
  HMODULE module = LoadLibraryExW(Wide(program.c_str()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return "(the program cannot be read)";
  std::string manifest = "(no manifest)";
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
    if (text != nullptr) manifest.assign(text, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return manifest;
}

PROCESS_INFORMATION Start(const ScratchFolder& folder, const std::string& program) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // A command line the program must ignore.
  std::string commandLine = "\"" + program + "\" --unknown-option";
  CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.path().c_str(),
                 &startup, &process);
  return process;
}

DWORD WaitForExit(const PROCESS_INFORMATION& process) {
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the program did not end";
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, 5000);
  }
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exitCode;
}

TEST(ProgramTest, StartsFromAnyFolderAsASingleFileAndExitsWithZero) {
  ScratchFolder folder;
  const std::string copy = folder.Path("varnell.exe");
  ASSERT_TRUE(CopyFileA(BuiltProgram().c_str(), copy.c_str(), FALSE)) << BuiltProgram();
  const PROCESS_INFORMATION process = Start(folder, copy);
  ASSERT_NE(process.hProcess, nullptr);
  HWND window = nullptr;
  for (int attempt = 0; attempt < 100 && window == nullptr; ++attempt) {
    Sleep(100);
    window = FindProgramWindow(process.dwProcessId);
  }
  EXPECT_NE(window, nullptr) << "the dialog did not come up";
  EXPECT_TRUE(UsesCommonControls6(process.hProcess)) << "the manifest did not take effect";
  if (window != nullptr) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else {
    TerminateProcess(process.hProcess, 99);
  }
  EXPECT_EQ(WaitForExit(process), 0u);
}

// Both programs: aware of every monitor's scale (per monitor, version 2, with the older forms for
// older systems), the common controls of version 6, written for Windows 7 to 10 (and so 11),
// never asking to be raised.
TEST(ProgramTest, BothProgramsCarryTheirManifest) {
  const char* const parts[] = {
      "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
      "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, "
      "PerMonitor</dpiAwareness>",
      "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
      "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
      "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
      "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
      "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
      "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10 and 11
  };
  for (const char* program : {VARNELL_EXE, VARNELL_CLI_EXE}) {
    const std::string manifest = ManifestOf(Built(program));
    for (const char* part : parts) EXPECT_NE(manifest.find(part), std::string::npos) << program << ": " << part;
  }
}

// A window's text, in UTF-8.
std::string TextOf(HWND window) {
  wchar_t text[512] = {};
  const int units = GetWindowTextW(window, text, 512);
  return Utf8FromUtf16(text, static_cast<size_t>(units));
}

// A message box of the process: a dialog of the system's class other than the program's own,
// with the box's text.
HWND FindBox(DWORD processId, HWND program) {
  return FindWindowOf(processId, [program](HWND window) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    return window != program && std::string(className) == "#32770" && GetDlgItem(window, 0xFFFF) != nullptr;
  });
}

// The dialog speaks the display language: its controls and a box (Start with the fields empty).
// ctest runs this on a Russian system and again on an English one (VARNELL_LANGUAGE, given to
// Wine as LC_MESSAGES by cmake/wine-run.in).
TEST(ProgramTest, SpeaksTheDisplayLanguage) {
  const char* display = std::getenv("VARNELL_LANGUAGE");
  const bool english = display != nullptr && std::string(display).rfind("en_", 0) == 0;
  ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN, !english) << "the display language";
  const Words& words = english ? kEnglish : kRussian;

  ScratchFolder folder;
  const PROCESS_INFORMATION process = Start(folder, BuiltProgram());
  ASSERT_NE(process.hProcess, nullptr);
  HWND window = nullptr;
  for (int attempt = 0; attempt < 100 && window == nullptr; ++attempt) {
    Sleep(100);
    window = FindProgramWindow(process.dwProcessId);
  }
  HWND box = nullptr;
  if (window != nullptr) {
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_MODE_VALID_SCAN)), std::string(words.window.modeValidScan));
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_LABEL_OUTPUT_FOLDER)), std::string(words.window.outputFolder));
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_START)), std::string(words.window.start));
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_START)));
    for (int attempt = 0; attempt < 100 && box == nullptr; ++attempt) {
      Sleep(100);
      box = FindBox(process.dwProcessId, window);
    }
  }
  ASSERT_NE(box, nullptr) << "no box came up";
  EXPECT_EQ(TextOf(box), std::string(words.dialog.attentionExclaimed));
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), std::string(words.dialog.fillAllFields));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  Sleep(200);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(process), 0u);
}

TEST(ProgramTest, ADialogThatCannotBeCreatedEndsTheProcessQuietlyWithZero) {
  ScratchFolder folder;
  const std::string copy = folder.Path("varnell.exe");
  ASSERT_TRUE(CopyFileA(BuiltProgram().c_str(), copy.c_str(), FALSE));
  // A copy whose dialog names a window class that does not exist: the dialog box cannot be
  // made. (Wine cannot delete a resource from a file, so it is replaced.)
  std::vector<uint16_t> unusable = {LOWORD(WS_POPUP), HIWORD(WS_POPUP), 0, 0, 0, 0, 0, 10, 10, 0};
  for (char c : std::string("NoSuchWindowClass")) unusable.push_back(static_cast<uint16_t>(c));
  unusable.insert(unusable.end(), {0, 0});  // the class name's end, an empty title
  HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  ASSERT_TRUE(UpdateResourceA(update, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(1000),
                              MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), unusable.data(),
                              static_cast<DWORD>(unusable.size() * 2)));
  ASSERT_TRUE(EndUpdateResourceA(update, FALSE));

  const PROCESS_INFORMATION process = Start(folder, copy);
  ASSERT_NE(process.hProcess, nullptr);
  const DWORD processId = process.dwProcessId;
  EXPECT_EQ(WaitForExit(process), 0u);
  EXPECT_EQ(FindProgramWindow(processId), nullptr);
}

}  // namespace
