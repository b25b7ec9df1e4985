// Waiting for files another program holds, and naming that program. The wait is the one the
// handle keeps (platform.h: HeldFileWaits), whose stop flag ends it, on whatever thread the
// call is made; the pauses are the core's (core/held_files.h). The holder comes from the
// Restart Manager, which Windows has from Vista on and which is loaded from the system's own
// folder only when a file stays held: the program runs where it is missing, and its import
// table keeps only the DLLs every Windows has.
#include <windows.h>
#include <restartmanager.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace {

// A stop is looked for this often while a pause lasts.
constexpr DWORD kStopCheckMs = 50;

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
using EndSession = DWORD(WINAPI*)(DWORD);

struct RestartManager {
  StartSession start = nullptr;
  RegisterResources registerResources = nullptr;
  GetList getList = nullptr;
  EndSession end = nullptr;
};

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loaded once, by its full path in the system folder, never from beside the program.
const RestartManager& LoadRestartManager() {
  static const RestartManager manager = [] {
    RestartManager found;
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 16) return found;
    const HMODULE module = LoadLibraryW((std::wstring(folder, length) + L"\\rstrtmgr.dll").c_str());
    if (module == nullptr) return found;
    found.start = Find<StartSession>(module, "RmStartSession");
    found.registerResources = Find<RegisterResources>(module, "RmRegisterResources");
    found.getList = Find<GetList>(module, "RmGetList");
    found.end = Find<EndSession>(module, "RmEndSession");
    return found;
  }();
  return manager;
}

// The paths the Restart Manager takes: without the \\?\ prefix.
std::wstring PlainPath(std::wstring path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

std::string Utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

}  // namespace

bool IsHeldByAnotherProgram(uint32_t systemError) { return IsHeldError(systemError); }

HeldFileWait::HeldFileWait(HeldFileWaits* waits, bool startsEntry) : waits_(waits) {
  if (waits_ != nullptr && startsEntry) waits_->entryWaitedMs = 0;
}

bool HeldFileWait::Pause() {
  if (waits_ == nullptr || waits_->StopAsked()) return false;
  const uint32_t pause = HeldFilePause(++tries_, waits_->entryWaitedMs, waits_->runWaitedMs);
  if (pause == 0) return false;
  for (uint32_t waited = 0; waited < pause; waited += kStopCheckMs) {
    const DWORD slice = pause - waited < kStopCheckMs ? pause - waited : kStopCheckMs;
    Sleep(slice);
    waits_->entryWaitedMs += slice;
    waits_->runWaitedMs += slice;
    if (waits_->StopAsked()) return false;
  }
  return true;
}

bool HeldFileWait::NameHolder(const std::wstring& path) {
  const RestartManager& manager = LoadRestartManager();
  if (path.empty() || manager.start == nullptr || manager.registerResources == nullptr || manager.getList == nullptr ||
      manager.end == nullptr) {
    return false;
  }
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (manager.start(&session, 0, key) != ERROR_SUCCESS) return false;
  const std::wstring plain = PlainPath(path);
  LPCWSTR files[] = {plain.c_str()};
  std::vector<RM_PROCESS_INFO> processes;
  UINT count = 0;
  if (manager.registerResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
    // The list may grow between asking for its length and fetching it.
    for (int attempt = 0; attempt < 3; ++attempt) {
      UINT needed = 0;
      count = static_cast<UINT>(processes.size());
      DWORD reasons = 0;
      const DWORD listed = manager.getList(session, &needed, &count, processes.empty() ? nullptr : processes.data(), &reasons);
      if (listed == ERROR_SUCCESS) break;
      count = 0;
      if (listed != ERROR_MORE_DATA) break;
      processes.resize(needed);
    }
  }
  manager.end(session);
  // The first program's name, and the others' after it.
  std::string names;
  for (UINT i = 0; i < count && i < processes.size(); ++i) {
    const std::string name = Utf8(processes[i].strAppName);
    if (name.empty()) continue;
    if (names.size() + name.size() + 2 >= sizeof waits_->holder) break;
    names += (names.empty() ? "" : ", ") + name;
  }
  if (names.empty()) return false;
  std::memcpy(waits_->holder, names.c_str(), names.size() + 1);
  return true;
}

std::wstring PathOfHandle(HANDLE handle) {
  const DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (needed == 0) return std::wstring();
  std::wstring path(needed, L'\0');
  const DWORD got = GetFinalPathNameByHandleW(handle, path.data(), needed, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (got == 0 || got >= needed) return std::wstring();
  path.resize(got);
  return path;
}

std::wstring PathInFolder(HANDLE folder, const std::wstring& name) {
  const std::wstring path = PathOfHandle(folder);
  if (path.empty()) return path;
  return path.back() == L'\\' ? path + name : path + L"\\" + name;
}

std::wstring PathOfText(const char* path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) return wide;
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::wstring full(needed, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (got == 0 || got >= needed) return std::wstring();
  full.resize(got);
  return full;
}
