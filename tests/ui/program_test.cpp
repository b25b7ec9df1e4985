// varnell.exe as a user gets it: one file copied into any folder, started, its window found
// by its caption, closed, and the process's exit code read.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/testing/scratch_folder.h"

namespace {

// The program's window among the top-level windows of a process.
struct Search {
  DWORD processId;
  HWND found;
};

HWND FindProgramWindow(DWORD processId) {
  Search search{processId, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char caption[64] = {};
        GetWindowTextA(window, caption, sizeof caption);
        if (owner == s->processId && IsWindowVisible(window) && std::string(caption) == "Varnell v1.0 beta") {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The build's program, named by its path on the build machine, which Wine shows as drive Z:.
std::string BuiltProgram() {
  std::string path = "Z:" VARNELL_EXE;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
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
  if (window != nullptr) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else {
    TerminateProcess(process.hProcess, 99);
  }
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
