// Another program holding a file open without sharing it, as an editor or a virus scanner
// does (Windows): tests/platform/hold_file, started beside the test and waited for until it
// holds the file.
#pragma once

#include <cstdint>
#include <string>

class HeldFile {
 public:
  // Holds path (ANSI, as the tests' paths are) for milliseconds from the moment it returns.
  HeldFile(const std::string& path, uint32_t milliseconds);
  // Ends the holder, if it still holds the file.
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

 private:
  void* process_ = nullptr;
  std::string ready_;
};
