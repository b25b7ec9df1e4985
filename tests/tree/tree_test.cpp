// The shared part of the folder tests. On Windows the trees are made, read and removed with
// the wide calls on \\?\ paths: the standard library of this toolchain misreads a folder whose
// path is longer than 260 characters (it lists the current folder instead), which a tree of
// these tests has.
#include "tests/tree/tree_test.h"

#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#endif

namespace {

#ifdef _WIN32

std::wstring Wide(const std::string& text, UINT codePage) {
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Utf8(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

// The root is an absolute path, below it names with '/', all UTF-8.
std::wstring Native(const std::string& root, const std::string& path = "") {
  std::wstring native = L"\\\\?\\" + Wide(root, CP_UTF8);
  if (!path.empty()) native += L"\\" + Wide(path, CP_UTF8);
  for (wchar_t& c : native) {
    if (c == L'/') c = L'\\';
  }
  return native;
}

void MakeFolders(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 4); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
  }
  if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    throw std::runtime_error("cannot make a folder");
  }
}

void PutFile(const std::wstring& path, const std::string& contents) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write a file");
  DWORD written = 0;
  const BOOL wrote = contents.empty() || WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
  CloseHandle(file);
  if (!wrote || written != contents.size()) throw std::runtime_error("cannot write a file");
}

std::string GetFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read a file");
  std::string contents;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) contents.append(chunk, got);
  CloseHandle(file);
  return contents;
}

// Calls each(name, attributes) for the folder's entries but "." and "..".
template <typename Each>
void ForEachEntry(const std::wstring& folder, Each each) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot list a folder");
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") each(name, data.dwFileAttributes);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

void ReadFolder(const std::wstring& folder, const std::string& prefix, TreeContents& contents) {
  ForEachEntry(folder, [&](const std::wstring& name, DWORD attributes) {
    const std::string path = prefix + Utf8(name);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      contents[path] = "<link>";
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      contents[path] = kFolderMark;
      ReadFolder(folder + L"\\" + name, path + "/", contents);
    } else {
      contents[path] = GetFile(folder + L"\\" + name);
    }
  });
}

#else

namespace fs = std::filesystem;

fs::path Native(const std::string& root, const std::string& path = "") { return path.empty() ? fs::path(root) : fs::path(root) / path; }

void ReadFolder(const fs::path& folder, const std::string& prefix, TreeContents& contents) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string path = prefix + entry.path().filename().string();
    if (entry.is_symlink()) {
      contents[path] = "<link>";
    } else if (entry.is_directory()) {
      contents[path] = kFolderMark;
      ReadFolder(entry.path(), path + "/", contents);
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      contents[path] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
}

#endif

}  // namespace

#ifdef _WIN32

namespace {

constexpr int64_t kIntervalsTo1970 = 116444736000000000;

HANDLE OpenForTimes(const std::string& root, const std::string& path) {
  HANDLE file = CreateFileW(Native(root, path).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a file for its time");
  return file;
}

}  // namespace

void SetStamp(const std::string& root, const std::string& path, uint32_t, int64_t seconds) {
  const uint64_t intervals = static_cast<uint64_t>(seconds * 10000000 + kIntervalsTo1970);
  const FILETIME time{static_cast<DWORD>(intervals), static_cast<DWORD>(intervals >> 32)};
  HANDLE file = OpenForTimes(root, path);
  const BOOL set = SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  if (!set) throw std::runtime_error("cannot set a file's time");
}

SeenStamp StampOf(const std::string& root, const std::string& path) {
  HANDLE file = OpenForTimes(root, path);
  FILETIME time;
  const BOOL got = GetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  if (!got) throw std::runtime_error("cannot read a file's time");
  const int64_t intervals = static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) - kIntervalsTo1970;
  // Floored, so that a time before 1970 has its nanoseconds positive, as the system's stat does.
  const int64_t rest = (intervals % 10000000 + 10000000) % 10000000;
  return SeenStamp{0, (intervals - rest) / 10000000, rest * 100};
}

#else

void SetStamp(const std::string& root, const std::string& path, uint32_t mode, int64_t seconds) {
  const std::string at = Native(root, path).string();
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
  if (chmod(at.c_str(), mode) != 0 || utimensat(AT_FDCWD, at.c_str(), times, 0) != 0) {
    throw std::runtime_error("cannot set a file's mode and time");
  }
}

SeenStamp StampOf(const std::string& root, const std::string& path) {
  struct stat info;
  if (lstat(Native(root, path).c_str(), &info) != 0) throw std::runtime_error("cannot look at a file");
  return SeenStamp{static_cast<uint32_t>(info.st_mode & 07777), info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

#endif

void MakeTree(const std::string& root, const TreeContents& contents) {
#ifdef _WIN32
  MakeFolders(Native(root));
  for (const auto& [path, content] : contents) {
    const std::wstring at = Native(root, path);
    if (content == kFolderMark) {
      MakeFolders(at);
    } else {
      const size_t slash = at.rfind(L'\\');
      if (slash > Native(root).size()) MakeFolders(at.substr(0, slash));
      PutFile(at, content);
    }
  }
#else
  fs::create_directories(root);
  for (const auto& [path, content] : contents) {
    const fs::path at = Native(root, path);
    if (content == kFolderMark) {
      fs::create_directories(at);
      continue;
    }
    fs::create_directories(at.parent_path());
    std::ofstream out(at, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
  }
#endif
}

TreeContents ReadTree(const std::string& root) {
  TreeContents contents;
  ReadFolder(Native(root), "", contents);
  return contents;
}

void RemoveTree(const std::string& root) { RemoveWholeFolder(root); }

std::string TreeDifference(const TreeContents& actual, const TreeContents& expected) {
  std::string differences;
  for (const auto& [path, content] : actual) {
    const auto other = expected.find(path);
    if (other == expected.end()) differences += "only in actual: " + path + "\n";
    else if (other->second != content) differences += "differs: " + path + "\n";
  }
  for (const auto& [path, content] : expected) {
    if (actual.count(path) == 0) differences += "missing: " + path + "\n";
  }
  return differences;
}

void MakeLink(const std::string& root, const std::string& path, const std::string& target) {
#ifdef _WIN32
  const std::wstring at = Native(root, path);
  const std::wstring to = Native(target);
  // Wine makes no links of its own; it shows the system's, which its Unix side makes.
  using UnixName = char* (*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) {
    const DWORD folder = (GetFileAttributesW(to.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0 ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    if (!CreateSymbolicLinkW(at.c_str(), to.c_str(), folder)) throw std::runtime_error("cannot link " + path);
    return;
  }
  // Wine hands the Unix program its arguments split as a Windows command line is.
  char* unixTarget = unixName(to.c_str());
  char* unixAt = unixName(at.c_str());
  const std::string command = std::string("/bin/ln -s \"") + unixTarget + "\" \"" + unixAt + "\"";
  HeapFree(GetProcessHeap(), 0, unixTarget);
  HeapFree(GetProcessHeap(), 0, unixAt);
  std::wstring wide(command.begin(), command.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(L"Z:\\bin\\ln", wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    throw std::runtime_error("cannot start ln");
  }
  // The Unix program runs beside this process, whose wait for it returns at once; a loaded
  // machine may take seconds to start it.
  for (int i = 0; i < 2400 && GetFileAttributesW(at.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(25);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
#else
  if (symlink(target.c_str(), Native(root, path).c_str()) != 0) throw std::runtime_error("cannot link " + path);
#endif
}

std::string Noise(uint32_t seed, size_t count) {
  std::mt19937 generator(seed);
  std::string text(count, '\0');
  for (char& c : text) c = static_cast<char>(generator());
  return text;
}

std::map<std::string, EntryReport> EntriesWith(const TreeOutcome& result, EntryEvent event) {
  std::map<std::string, EntryReport> found;
  for (const EntryReport& entry : result.entries) {
    if (entry.event == event) found[entry.path] = entry;
  }
  return found;
}

std::map<std::string, SeenStamp> ExpectStamps(const std::string& root, const std::vector<ExpectedStamp>& files) {
#ifdef _WIN32
  constexpr bool kBits = false;
#else
  constexpr bool kBits = true;
#endif
  std::map<std::string, SeenStamp> seen;
  for (const ExpectedStamp& file : files) {
    SCOPED_TRACE(file.path);
    const SeenStamp stamp = StampOf(root, file.path);
    if (kBits) {
      EXPECT_EQ(stamp.mode, file.mode);
    }
    EXPECT_EQ(stamp.seconds, file.seconds);
    EXPECT_EQ(stamp.nanoseconds, 0);
    seen[file.path] = stamp;
  }
  return seen;
}

void ExpectStampsKept(const std::string& root, const std::map<std::string, SeenStamp>& before) {
  for (const auto& [path, stamp] : before) {
    const SeenStamp now = StampOf(root, path);
    EXPECT_EQ(now.seconds, stamp.seconds) << path;
    EXPECT_EQ(now.nanoseconds, stamp.nanoseconds) << path;
  }
}
