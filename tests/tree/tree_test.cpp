// The shared part of the folder tests.
#include "tests/tree/tree_test.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

fs::path Utf8Path(const std::string& root, const std::string& path) {
  return fs::path(root) / fs::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

void MakeTree(const std::string& root, const TreeContents& contents) {
  fs::create_directories(root);
  for (const auto& [path, content] : contents) {
    const fs::path at = Utf8Path(root, path);
    if (content == kFolderMark) {
      fs::create_directories(at);
      continue;
    }
    fs::create_directories(at.parent_path());
    std::ofstream out(at, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
  }
}

TreeContents ReadTree(const std::string& root) {
  TreeContents contents;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string path = Utf8(it->path().lexically_relative(root));
    if (it->is_symlink()) {
      contents[path] = "<link>";
      it.disable_recursion_pending();
    } else if (it->is_directory()) {
      contents[path] = kFolderMark;
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      contents[path] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return contents;
}

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
  const fs::path at = Utf8Path(root, path);
#ifdef _WIN32
  // Wine makes no links of its own; it shows the system's, which its Unix side makes.
  using UnixName = char* (*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) {
    if (!CreateSymbolicLinkW(at.c_str(), fs::path(target).c_str(), fs::is_directory(target) ? 1 : 0)) {
      throw std::runtime_error("cannot link " + path);
    }
    return;
  }
  // Wine hands the Unix program its arguments split as a Windows command line is.
  char* unixTarget = unixName(fs::path(target).c_str());
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
  // The Unix program runs beside this process, whose wait for it returns at once.
  for (int i = 0; i < 200 && GetFileAttributesW(at.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(25);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
#else
  if (symlink(target.c_str(), at.c_str()) != 0) throw std::runtime_error("cannot link " + path);
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
