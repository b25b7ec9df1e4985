// Where the Windows backend meets the wide calls: a path text, UTF-8 inside the program, becomes
// UTF-16 only here, and so does every text the system shows; what the system gives back comes
// back as UTF-8. No name ever passes through the ANSI code page.
#pragma once

#include <cstddef>
#include <string>

// A path for the wide file calls: its UTF-16, or, when the absolute path is too long for the
// ordinary form, the \\?\ form of the absolute path, which takes any length. Held in the
// object itself up to a length no path the dialog takes ever reaches, so that opening a file
// needs no memory from the heap; longer ones are put on the heap.
class SystemPath {
 public:
  explicit SystemPath(const char* path);
  SystemPath(const SystemPath&) = delete;
  SystemPath& operator=(const SystemPath&) = delete;

  // False, with the last error set, when the text gives no path: ERROR_INVALID_NAME for bytes
  // that are not UTF-8 (no look-alike stands in for them), ERROR_NOT_ENOUGH_MEMORY.
  bool ok() const { return ok_; }
  const wchar_t* c_str() const { return onHeap_ ? long_.c_str() : short_; }

 private:
  static constexpr size_t kShortUnits = 1024;
  wchar_t short_[kShortUnits];
  std::wstring long_;
  bool onHeap_ = false;
  bool ok_ = false;
};

// Always the \\?\ form of the absolute path (\\?\C:\... or \\?\UNC\server\share\...): the top of
// a folder's walk, below which every name is opened relative to its parent.
bool LongSystemPath(const char* path, std::wstring* wide);

// A text to show: bytes that are not UTF-8 are shown as U+FFFD.
std::wstring Wide(const char* utf8);
// UTF-16 from the system, as UTF-8.
std::string Utf8(const wchar_t* text, size_t units);
