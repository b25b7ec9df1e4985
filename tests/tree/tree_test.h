// What the folder tests share: a broken side and a valid side, trees made and read through
// the standard library (names in UTF-8 on both systems), links made for real, and runs of
// the three folder operations.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/stream/stream_test.h"
#include "tree/operations.h"

// A tree as the tests see it: each path below the folder ('/' between names, UTF-8) with
// "<folder>", "<link>" or a file's contents.
using TreeContents = std::map<std::string, std::string>;

inline const std::string kFolderMark = "<folder>";

// Names are UTF-8 in every build, as the u8 literals say outright.
inline std::string U8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// Makes the entries of contents below root (folders for kFolderMark, files otherwise).
void MakeTree(const std::string& root, const TreeContents& contents);
TreeContents ReadTree(const std::string& root);
// Removes a tree, paths of any length included.
void RemoveTree(const std::string& root);
// The paths in which two trees differ, one per line; empty when they are equal.
std::string TreeDifference(const TreeContents& actual, const TreeContents& expected);
// A symbolic link at path (below root) to target, made as the system makes one.
void MakeLink(const std::string& root, const std::string& path, const std::string& target);
// A text of count bytes that no other call gives.
std::string Noise(uint32_t seed, size_t count);

// A file's permission bits (0 on Windows) and modification time, as the system tells them.
struct SeenStamp {
  uint32_t mode = 0;
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
};
// The time the tests give valid files: 2020-01-01 00:00:00 UTC.
inline constexpr int64_t kValidTime = 1577836800;
// Gives the file at path (below root) the permission bits (on Linux) and the time.
void SetStamp(const std::string& root, const std::string& path, uint32_t mode, int64_t seconds);
SeenStamp StampOf(const std::string& root, const std::string& path);
// What a repair must leave a file: its permission bits (checked where the system keeps them)
// and its time, in whole seconds.
struct ExpectedStamp {
  const char* path;
  uint32_t mode;
  int64_t seconds;
};
// Checks each file's stamp; returns what was seen, for ExpectStampsKept after a rerun.
std::map<std::string, SeenStamp> ExpectStamps(const std::string& root, const std::vector<ExpectedStamp>& files);
// A rerun that writes nothing gives no file a new time.
void ExpectStampsKept(const std::string& root, const std::map<std::string, SeenStamp>& before);

class TreeTest : public StreamTest {
 protected:
  std::string Broken() const { return scratch.Path("tree"); }
  std::string Valid() const { return elsewhere.Path("tree"); }
  std::string TestFile() const { return outputs.Path("tree.crc"); }
  std::string RepairFile() const { return outputs.Path("tree.fix"); }

  TreeOutcome ScanBroken(const StreamControl& control = {}) {
    return ScanBrokenFolder(Broken().c_str(), outputs.path().c_str(), control, choice);
  }
  TreeOutcome ScanValid(const StreamControl& control = {}) {
    return ScanValidFolder(Valid().c_str(), TestFile().c_str(), outputs.path().c_str(), control);
  }
  TreeOutcome Repair(bool deleteExtra = false, const StreamControl& control = {}) {
    FolderRepairOptions options;
    options.deleteExtra = deleteExtra;
    return RepairBrokenFolder(Broken().c_str(), RepairFile().c_str(), options, control);
  }

  // The scratch folders go afterwards; their paths may be longer than they can take.
  void TearDown() override {
    StreamTest::TearDown();
    RemoveTree(Broken());
    RemoveTree(Valid());
  }

  ScratchFolder outputs;
  // The test file's form: the plain one unless a test asks for the compact one.
  TestFileChoice choice;
};

// The entries of a result with this event, by path.
std::map<std::string, EntryReport> EntriesWith(const TreeOutcome& result, EntryEvent event);
