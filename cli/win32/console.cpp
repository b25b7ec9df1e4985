// A Windows console shows narrow bytes in its own output code page (often 866), so on a
// console each text is turned from UTF-8 into UTF-16 and written as letters (WriteConsoleW).
// Redirected to a file or a pipe, the UTF-8 bytes go out unchanged.
#include <io.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "cli/console.h"
#include "core/utf8.h"

namespace {

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

void Write(std::FILE* stream, const char* text) {
  HANDLE console = ConsoleOf(stream);
  if (console == nullptr || *text == '\0') {
    std::fputs(text, stream);
    return;
  }
  std::wstring wide;
  AppendUtf16(text, &wide, false);
  std::fflush(stream);  // whatever the stream still buffers comes first
  DWORD written = 0;
  if (!WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) ||
      written != static_cast<DWORD>(wide.size())) {
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

void WriteText(std::FILE* stream, const char* text) { Write(stream, text); }

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

// Windows has no signal to end by: Ctrl-C and the rest end the run with exit status 1.
int InterruptSignal() { return 0; }

void EndByInterruptSignal() {}
