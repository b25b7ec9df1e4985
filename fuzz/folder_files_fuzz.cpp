// Fuzzing the readers of the two folder forms through the folder operations themselves.
//
// Input: one byte choosing the form (even: a folder repair file applied to a folder of two
// files; odd: a folder test file the valid folder's scan compares with a folder of two
// files), then the file, whose tag is put in front when it lacks one. After every call:
// nothing is held; nothing beside the folder changed; the scan's valid folder is unchanged.
// A repair may change its own folder, which is made again for every input.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "fuzz/fuzz_support.h"
#include "tree/operations.h"

namespace {

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* listing = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(listing)) names.insert(entry->d_name);
    closedir(listing);
  }
  return names;
}

// Removes a tree the repair may have made; the fuzzer's names never reach outside it.
void RemoveTree(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    for (const std::string& name : Names(path)) {
      if (name != "." && name != "..") RemoveTree(path + "/" + name);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void MakeTwoFiles(const std::string& folder) {
  mkdir(folder.c_str(), 0700);
  const std::string a = "first file", b(9000, 'b');
  WriteFileBytes(folder + "/a.txt", reinterpret_cast<const uint8_t*>(a.data()), a.size());
  WriteFileBytes(folder + "/b.bin", reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool capped = (CapFileWrites(), true);
  (void)capped;
  if (size == 0 || size > 64 * 1024) return -1;
  const bool testFile = (data[0] & 1) != 0;
  const char* tag = testFile ? "\xFF\xFF\xFF\xFFVNDIRCRC" : "\xFF\xFF\xFF\xFFVNDIRFIX";
  Bytes file(data + 1, data + size);
  if (file.size() < 12 || std::memcmp(file.data(), tag, 12) != 0) file.insert(file.begin(), tag, tag + 12);

  static const std::string exchange = ScratchPath("exchange");
  static const std::string folder = ScratchPath("folder");
  static const std::string output = ScratchPath("output");
  WriteFileBytes(exchange, file.data(), file.size());
  RemoveTree(folder);
  MakeTwoFiles(folder);
  const std::set<std::string> beside = Names(folder + "/..");

  if (testFile) {
    mkdir(output.c_str(), 0700);
    const TreeOutcome result = ScanValidFolder(folder.c_str(), exchange.c_str(), output.c_str(), {});
    Require(result.outcome.ending != Ending::Cancelled, "a scan stopped on no request");
    Require(ReadFileBytes(folder + "/a.txt") == Bytes{'f', 'i', 'r', 's', 't', ' ', 'f', 'i', 'l', 'e'}, "the valid folder changed");
    Require(Names(folder).size() == 4, "the valid folder changed");
    RemoveTree(output);
  } else {
    FolderRepairOptions options;
    options.deleteExtra = true;
    const TreeOutcome result = RepairBrokenFolder(folder.c_str(), exchange.c_str(), options, {});
    Require(result.outcome.ending != Ending::Cancelled, "a repair stopped on no request");
    Require(ReadFileBytes(exchange) == file, "the repair file changed");
    // A repair whose files still differ writes its follow-up beside the folder, and nothing else.
    if (!result.outcome.followUpPath.empty()) {
      Require(result.outcome.followUpPath == folder + ".crc", "the follow-up is not beside the folder");
      unlink(result.outcome.followUpPath.c_str());
    }
  }
  RequireNothingHeld();
  Require(Names(folder + "/..") == beside, "something appeared or went beside the folder");
  return 0;
}
