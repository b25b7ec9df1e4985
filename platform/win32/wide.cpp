// UTF-8 and UTF-16 through the program's one codec (core/utf8.h).
#include "platform/win32/wide.h"

#include <windows.h>

#include <cwchar>
#include <new>

#include "core/utf8.h"

namespace {

// A fixed buffer that AppendUtf16 fills; what does not fit is noted, not written.
struct FixedUnits {
  using value_type = wchar_t;
  wchar_t* data;
  size_t capacity;
  size_t used = 0;
  bool overflow = false;
  size_t size() const { return used; }
  void resize(size_t size) { used = size; }
  void push_back(wchar_t unit) {
    if (used + 1 < capacity) {
      data[used++] = unit;
    } else {
      overflow = true;
    }
  }
};

bool IsPrefixed(const wchar_t* path) { return wcsncmp(path, L"\\\\?\\", 4) == 0 || wcsncmp(path, L"\\\\.\\", 4) == 0; }

// The absolute form of a path as the system resolves it (the current folder for a relative
// path, doubled separators and "." and ".." taken out), in the \\?\ form.
bool LongForm(const wchar_t* path, std::wstring* full) {
  const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (needed == 0) return false;
  full->assign(needed, L'\0');
  const DWORD got = GetFullPathNameW(path, needed, full->data(), nullptr);
  if (got == 0 || got >= needed) return false;
  full->resize(got);
  if (IsPrefixed(full->c_str())) return true;
  if (full->compare(0, 2, L"\\\\") == 0) {
    *full = L"\\\\?\\UNC\\" + full->substr(2);
  } else {
    *full = L"\\\\?\\" + *full;
  }
  return true;
}

}  // namespace

SystemPath::SystemPath(const char* path) {
  short_[0] = L'\0';
  try {
    FixedUnits inside{short_, kShortUnits};
    if (!AppendUtf16(path, &inside, true)) {
      SetLastError(ERROR_INVALID_NAME);
      return;
    }
    short_[inside.used] = L'\0';
    if (inside.overflow) {
      AppendUtf16(path, &long_, true);
      onHeap_ = true;
    }
    // The ordinary form takes an absolute path of up to MAX_PATH - 1 units; a path within that
    // goes to the system exactly as it was given.
    if (!IsPrefixed(c_str())) {
      const DWORD absolute = GetFullPathNameW(c_str(), 0, nullptr, nullptr);
      if (absolute > MAX_PATH) {
        std::wstring full;
        if (LongForm(c_str(), &full)) {
          long_ = std::move(full);
          onHeap_ = true;
        }
      }
    }
    ok_ = true;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
}

bool LongSystemPath(const char* path, std::wstring* wide) {
  try {
    std::wstring given;
    if (!AppendUtf16(path, &given, true)) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    return LongForm(given.c_str(), wide);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
}

std::wstring Wide(const char* utf8) {
  std::wstring wide;
  AppendUtf16(utf8, &wide, false);
  return wide;
}

std::string Utf8(const wchar_t* text, size_t units) { return Utf8FromUtf16(text, units); }
