// Scratch folders and file helpers on std::filesystem.
#include "tests/testing/scratch_folder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {
std::atomic<unsigned> folderCount{0};

// Paths are UTF-8 in every build; on Windows they reach the system as UTF-16, as the
// program's own do.
fs::path Native(const std::string& name) {
#ifdef _WIN32
  return fs::path(Wide(name.c_str()));
#else
  return fs::path(name);
#endif
}

std::string Narrow(const fs::path& path) {
#ifdef _WIN32
  const std::wstring& wide = path.native();
  return Utf8(wide.data(), wide.size());
#else
  return path.string();
#endif
}

#ifdef _WIN32
// Removes a folder and everything in it through the wide calls on its \\?\ path: this
// toolchain's standard library misreads a folder whose path is longer than 260 characters and
// lists the current folder instead, whose files it would then remove. Links are removed, never
// followed.
void RemoveFolderWide(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      const DWORD attributes = data.dwFileAttributes;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(path.c_str());
      } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RemoveDirectoryW(path.c_str());
      } else {
        RemoveFolderWide(path);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}
#endif
}  // namespace

void RemoveWholeFolder(const std::string& path) {
#ifdef _WIN32
  std::wstring wide = Native(path).native();
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.compare(0, 4, L"\\\\?\\") != 0) wide = L"\\\\?\\" + wide;
  RemoveFolderWide(wide);
#else
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(path, ignored)) {
    if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
#endif
}

ScratchFolder::ScratchFolder() {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path folder = fs::temp_directory_path() / ("varnell-test-" + std::to_string(stamp) + "-" +
                                                       std::to_string(folderCount++));
  fs::create_directories(folder);
  path_ = Narrow(folder);
  while (!path_.empty() && (path_.back() == '/' || path_.back() == '\\')) path_.pop_back();
}

ScratchFolder::ScratchFolder(const std::string& at) : path_(at) {
  std::error_code ignored;
  fs::remove_all(Native(path_), ignored);
  fs::create_directories(Native(path_));
}

ScratchFolder::~ScratchFolder() { RemoveWholeFolder(path_); }

std::string ScratchFolder::Path(const std::string& name) const { return path_ + kPathSeparator + name; }

std::string ScratchFolder::MakeFolder(const std::string& name) const {
#ifdef _WIN32
  const bool made = CreateDirectoryW(Native(Path(name)).c_str(), nullptr) != 0;
#else
  const bool made = mkdir(Path(name).c_str(), 0777) == 0;
#endif
  if (!made) throw std::runtime_error("cannot make " + Path(name));
  return Path(name);
}

std::FILE* OpenPath(const std::string& path, const char* mode) {
#ifdef _WIN32
  // The C library's narrow paths are in the ANSI code page, which cannot hold every name.
  return _wfopen(Native(path).c_str(), Wide(mode).c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

void ScratchFolder::Write(const std::string& name, const Bytes& contents) const {
  std::FILE* out = OpenPath(Path(name), "wb");
  if (out == nullptr) throw std::runtime_error("cannot write " + Path(name));
  const size_t written = contents.empty() ? 0 : std::fwrite(contents.data(), 1, contents.size(), out);
  if (std::fclose(out) != 0 || written != contents.size()) throw std::runtime_error("cannot write " + Path(name));
}

Bytes ScratchFolder::Read(const std::string& name) const { return ReadWholeFile(Path(name)); }

Bytes ReadWholeFile(const std::string& path) {
  std::FILE* in = OpenPath(path, "rb");
  if (in == nullptr) throw std::runtime_error("cannot read " + path);
  Bytes contents;
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) contents.insert(contents.end(), chunk, chunk + got);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) throw std::runtime_error("cannot read " + path);
  return contents;
}

bool ScratchFolder::Exists(const std::string& name) const { return fs::exists(Native(Path(name))); }

void ScratchFolder::Resize(const std::string& name, uint64_t length) const {
  if (!Exists(name)) Write(name, {});
  fs::resize_file(Native(Path(name)), length);
}

uint64_t ScratchFolder::Size(const std::string& name) const { return fs::file_size(Native(Path(name))); }

void ScratchFolder::MakeReadOnly(const std::string& name) const {
  fs::permissions(Native(Path(name)), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

std::vector<std::string> ScratchFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Native(path_))) names.push_back(Narrow(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

Bytes Le32(uint32_t value) {
  return Bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
               static_cast<uint8_t>(value >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Part(const Bytes& bytes, size_t from, size_t to) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes RandomBytes(uint32_t seed, size_t count) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator());
  return bytes;
}
