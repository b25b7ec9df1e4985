// Starting the holder beside this test program and waiting for its sign.
#include "tests/testing/held_file.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace {

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.pop_back();
  return wide;
}

}  // namespace

HeldFile::HeldFile(const std::string& path, uint32_t milliseconds) {
  // The sign is made outside the folders a test reads.
  static unsigned count = 0;
  char temporary[MAX_PATH];
  GetTempPathA(MAX_PATH, temporary);
  ready_ = std::string(temporary) + "varnell-held-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
  // Built beside the test programs of tests/, and found from those of its folders too.
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self, length);
  folder = folder.substr(0, folder.find_last_of(L'\\'));
  std::wstring program = folder + L"\\hold_file.exe";
  if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
    program = folder.substr(0, folder.find_last_of(L'\\')) + L"\\hold_file.exe";
  }
  std::wstring command = L"\"" + program + L"\" \"" + Wide(path) + L"\" " + std::to_wstring(milliseconds) + L" \"" +
                         Wide(ready_) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    throw std::runtime_error("cannot start hold_file");
  }
  CloseHandle(process.hThread);
  process_ = process.hProcess;
  // A loaded machine may take seconds to start a program under Wine.
  for (int i = 0; i < 2400 && GetFileAttributesW(Wide(ready_).c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
    Sleep(25);
  }
  if (GetFileAttributesW(Wide(ready_).c_str()) == INVALID_FILE_ATTRIBUTES) throw std::runtime_error("hold_file holds nothing");
}

HeldFile::~HeldFile() {
  TerminateProcess(process_, 0);
  WaitForSingleObject(process_, INFINITE);
  CloseHandle(process_);
  DeleteFileW(Wide(ready_).c_str());
}
