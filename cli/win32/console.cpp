// A Windows console shows narrow bytes in its own output code page (often 866, not the ANSI
// code page 1251 of the program's texts), so on a console the text is turned into UTF-16 and
// written as letters. Redirected to a file or a pipe, the bytes go out unchanged.
#include <io.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "cli/console.h"

namespace {

HANDLE ConsoleOf(std::FILE* stream) {
  const int descriptor = _fileno(stream);
  if (descriptor < 0) return nullptr;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  DWORD mode;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}

}  // namespace

void WriteText(std::FILE* stream, const char* text) {
  HANDLE console = ConsoleOf(stream);
  const int length = static_cast<int>(std::strlen(text));
  if (console == nullptr || length == 0) {
    std::fputs(text, stream);
    return;
  }
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  std::vector<wchar_t> wide(static_cast<size_t>(wideLength) + 1);
  MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), wideLength);
  std::fflush(stream);  // whatever the stream still buffers comes first
  DWORD written;
  WriteConsoleW(console, wide.data(), static_cast<DWORD>(wideLength), &written, nullptr);
}
