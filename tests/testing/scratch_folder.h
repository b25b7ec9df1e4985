// A fresh folder under the system's temporary folder for one test, removed afterwards, and
// plain file helpers that do not go through the code under test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

class ScratchFolder {
 public:
  ScratchFolder();
  // The folder at a given place instead, such as a user's folder that a picture for the guide
  // shows: whatever a stopped run left there is removed first.
  explicit ScratchFolder(const std::string& at);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder's own path, without a trailing separator, and the path of a name in it.
  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const;

  // Makes a folder in it and returns its path; the name is UTF-8, as the engine's paths are,
  // and may hold any letter.
  std::string MakeFolder(const std::string& name) const;
  void Write(const std::string& name, const Bytes& contents) const;
  Bytes Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // Sets a file's length without writing its bytes (sparse where the file system allows).
  void Resize(const std::string& name, uint64_t length) const;
  uint64_t Size(const std::string& name) const;
  void MakeReadOnly(const std::string& name) const;
  // The names of what it holds, sorted.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

// Removes a folder with everything in it, however long its paths; links in it are removed,
// never followed.
void RemoveWholeFolder(const std::string& path);

// std::fopen for a UTF-8 path, on Windows too.
std::FILE* OpenPath(const std::string& path, const char* mode);

// A whole file in one read; throws when it cannot be read.
Bytes ReadWholeFile(const std::string& path);

Bytes Le32(uint32_t value);
Bytes Concat(std::initializer_list<Bytes> parts);
// Bytes from offset from up to, not including, offset to.
Bytes Part(const Bytes& bytes, size_t from, size_t to);
Bytes RandomBytes(uint32_t seed, size_t count);
