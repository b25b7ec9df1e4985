// A Windows console shows narrow bytes in its own output code page (often 866), so on a
// console each text is turned into UTF-16 from the code page it is in and written as
// letters: the program's own texts from Windows-1251, paths and the system's texts from the
// ANSI code page. Redirected to a file or a pipe, the bytes go out unchanged.
#include <io.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "cli/console.h"

namespace {

constexpr UINT kOwnCodePage = 1251;

std::atomic<bool>* interruptFlag = nullptr;
// Streams on which a console write failed, which ferror cannot know about.
std::FILE* failedStreams[2] = {};

HANDLE ConsoleOf(std::FILE* stream) {
  const int descriptor = _fileno(stream);
  if (descriptor < 0) return nullptr;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  DWORD mode;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

void NoteFailure(std::FILE* stream) {
  for (std::FILE*& slot : failedStreams) {
    if (slot == nullptr || slot == stream) {
      slot = stream;
      return;
    }
  }
}

std::wstring Wide(const char* text, UINT codePage) {
  const int length = static_cast<int>(std::strlen(text));
  if (length == 0) return std::wstring();
  const int wideLength = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(codePage, 0, text, length, wide.data(), wideLength);
  return wide;
}

std::string Utf8(const char* text, UINT codePage) {
  const std::wstring wide = Wide(text, codePage);
  if (wide.empty()) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

void Write(std::FILE* stream, const char* text, UINT codePage) {
  HANDLE console = ConsoleOf(stream);
  const int length = static_cast<int>(std::strlen(text));
  if (console == nullptr || length == 0) {
    std::fputs(text, stream);
    return;
  }
  const int wideLength = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
  std::vector<wchar_t> wide(static_cast<size_t>(wideLength) + 1);
  MultiByteToWideChar(codePage, 0, text, length, wide.data(), wideLength);
  std::fflush(stream);  // whatever the stream still buffers comes first
  DWORD written = 0;
  if (!WriteConsoleW(console, wide.data(), static_cast<DWORD>(wideLength), &written, nullptr) ||
      written != static_cast<DWORD>(wideLength)) {
    NoteFailure(stream);
  }
}

// The system ends the process about 5 seconds after a close, logoff or shutdown event, or
// as soon as the handler returns; waiting a little less gives the operation that time.
constexpr DWORD kCleanUpMs = 4500;

BOOL WINAPI OnInterrupt(DWORD event) {
  if (interruptFlag == nullptr) return FALSE;
  interruptFlag->store(true);
  switch (event) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The console window is going away. The main thread stops at the next block boundary,
      // removes its temporary file and ends the process, which ends this wait too.
      Sleep(kCleanUpMs);
      return TRUE;
    default:
      return TRUE;
  }
}

}  // namespace

void WriteText(std::FILE* stream, const char* text) { Write(stream, text, kOwnCodePage); }

void WriteUtf8(std::FILE* stream, const char* text) { Write(stream, text, CP_UTF8); }

std::string OwnTextToUtf8(const char* text) { return Utf8(text, kOwnCodePage); }

std::string SystemTextToUtf8(const char* text) { return Utf8(text, CP_ACP); }

void WriteSystemText(std::FILE* stream, const char* text) { Write(stream, text, CP_ACP); }

bool StreamWritten(std::FILE* stream) {
  const bool flushed = std::fflush(stream) == 0 && std::ferror(stream) == 0;
  for (std::FILE* failed : failedStreams) {
    if (failed == stream) return false;
  }
  return flushed;
}

bool IsTerminal(std::FILE* stream) { return ConsoleOf(stream) != nullptr; }

void StopOnInterrupt(std::atomic<bool>* stop) {
  interruptFlag = stop;
  SetConsoleCtrlHandler(OnInterrupt, TRUE);
}

int ProgramArguments(int argc, char** argv, std::vector<std::string>* arguments, unsigned* unconvertible) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    arguments->assign(argv, argv + argc);
    return 1;
  }
  arguments->clear();
  for (int i = 0; i < count; ++i) {
    // No best fit: a fullwidth 'b' must not quietly become the 'b' of another file's name.
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide[i], -1, nullptr, 0, nullptr, &usedDefault);
    std::string narrow(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide[i], -1, narrow.data(), length, nullptr, &usedDefault);
    }
    if (length <= 0 || usedDefault) {
      *unconvertible = static_cast<unsigned>(i);
      LocalFree(wide);
      return 0;
    }
    narrow.pop_back();  // the terminating zero
    arguments->push_back(narrow);
  }
  LocalFree(wide);
  return 1;
}
