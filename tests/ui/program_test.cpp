// varnell.exe as a user gets it: one file copied into any folder, started, its window found
// by its caption, closed, and the process's exit code read.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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

TEST(ProgramTest, StartsFromAnyFolderAsASingleFileAndExitsWithZero) {
  ScratchFolder folder;
  const std::string copy = folder.Path("varnell.exe");
  ASSERT_TRUE(CopyFileA(BuiltProgram().c_str(), copy.c_str(), FALSE)) << BuiltProgram();

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // A command line the program must ignore.
  std::string commandLine = "\"" + copy + "\" --unknown-option";
  ASSERT_TRUE(CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.path().c_str(), &startup, &process));
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
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace
