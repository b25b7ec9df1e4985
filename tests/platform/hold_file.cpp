// A program that holds a file as an editor or a virus scanner does, for the tests of files
// held open: hold_file FILE MILLISECONDS READY opens FILE for reading and writing without
// sharing it, makes the file READY once it holds it, and lets go after MILLISECONDS.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const DWORD hold = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
  HANDLE file = INVALID_HANDLE_VALUE;
  // The test may still be looking at the file for a moment.
  for (int attempt = 0; attempt < 400 && file == INVALID_HANDLE_VALUE; ++attempt) {
    file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) Sleep(25);
  }
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  Sleep(hold);
  CloseHandle(file);
  return 0;
}
