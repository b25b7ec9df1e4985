// The three streaming operations end to end on ordinary files: the bytes they write, what
// they return, and the broken file they leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;

class OperationsTest : public StreamTest {};

// A final name as long as the system takes (a 245-character stem; on Windows a path just
// within its 259 characters) is scanned: the temporary beside it is never the longer name.
TEST_F(OperationsTest, AnOutputNameAsLongAsTheSystemTakesIsWritten) {
#ifdef _WIN32
  const size_t stem = std::min<size_t>(245, 259 - (elsewhere.path().size() + 1) - 4);
#else
  const size_t stem = 245;
#endif
  const std::string name(stem, 'n');
  scratch.Write(name + ".bin", RandomBytes(3, kBlock + 1));
  const Outcome scan =
      StreamScanBrokenFile(scratch.Path(name + ".bin").c_str(), elsewhere.path().c_str(), StreamControl{});
  EXPECT_EQ(scan.ending, Ending::Done) << scan << " " << SystemText(scan.systemError);
  EXPECT_EQ(FolderEntries(elsewhere.path()), std::vector<std::string>{name + ".crc"});
}

TEST_F(OperationsTest, TheWholeExchangeRestoresTheValidFile) {
  const Bytes valid = RandomBytes(1, 300 * kBlock + 123);
  const Bytes broken = WithDamage(valid, {1, 2, 150, 301});
  scratch.Write("movie.avi", broken);
  elsewhere.Write("movie.avi", valid);
  const StreamControl none;

  Outcome scan = StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), scratch.path().c_str(), none);
  ASSERT_EQ(scan.ending, Ending::Done);
  EXPECT_EQ(scan.outputPath, scratch.Path("movie.crc"));
  EXPECT_EQ(scan.outputBytes, 4u + 4 * 301);
  EXPECT_TRUE(scratch.Read("movie.crc") == ReferenceTestFile(broken));

  Outcome fix = StreamScanValidFile(elsewhere.Path("movie.avi").c_str(), scratch.Path("movie.crc").c_str(),
                                         elsewhere.path().c_str(), none);
  ASSERT_EQ(fix.ending, Ending::Done);
  EXPECT_EQ(fix.outputPath, elsewhere.Path("movie.fix"));
  // The fingerprint of the file's two regions behind the blocks, with the record of the broken file.
  EXPECT_EQ(fix.outputBytes, ReferenceRepairFile(valid, ReferenceTestFile(broken)).size());
  EXPECT_TRUE(elsewhere.Read("movie.fix") == ReferenceRepairFile(valid, ReferenceTestFile(broken)));
  EXPECT_TRUE(fix.fingerprinted);
  EXPECT_EQ(fix.fingerprint, Xxh3Hash128(valid.data(), valid.size()));
  EXPECT_EQ(fix.validSize, valid.size());
  EXPECT_EQ(fix.blocks, (std::vector<uint32_t>{1, 2, 150, 301}));
  EXPECT_TRUE(elsewhere.Read("movie.fix") == ReferenceRepairFile(valid, scratch.Read("movie.crc")));

  Outcome repair = StreamRepairBrokenFile(scratch.Path("movie.avi").c_str(), elsewhere.Path("movie.fix").c_str(),
                                               RepairOptions{.checkFilePath = scratch.Path("movie.crc").c_str()}, none);
  ASSERT_EQ(repair.ending, Ending::Done);
  EXPECT_EQ(repair.verification, Verification::Verified);
  EXPECT_EQ(repair.blocks, (std::vector<uint32_t>{1, 2, 150, 301}));
  EXPECT_TRUE(scratch.Read("movie.avi") == valid);

  // The closing check: scanned again, the repaired file has the valid file's contents.
  ASSERT_EQ(StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), scratch.path().c_str(), none).ending,
            Ending::Done);
  Outcome again = StreamScanValidFile(elsewhere.Path("movie.avi").c_str(), scratch.Path("movie.crc").c_str(),
                                           elsewhere.path().c_str(), none);
  EXPECT_EQ(again.ending, Ending::Identical);
    EXPECT_EQ(RecordedBoxes().size(), 0u);
}

}  // namespace

#ifndef _WIN32
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

// A test file is readable by no more people than the broken file, a repair file by no more
// than the valid file, also where either replaces an older, more readable one; the umask
// still takes off what it forbids.
TEST_F(OperationsTest, AnOutputIsNeverMoreReadableThanWhatItCarries) {
  const mode_t umaskNow = umask(0);
  umask(umaskNow);
  const Bytes valid = RandomBytes(4, 2 * kBlock);
  for (const mode_t source : {mode_t{0600}, mode_t{0640}, mode_t{0606}}) {
    const mode_t expected = ((source & 0666) | 0600) & ~umaskNow;
    scratch.Write("movie.avi", WithDamage(valid, {2}));
    elsewhere.Write("movie.avi", valid);
    scratch.Write("movie.crc", {1});
    elsewhere.Write("movie.fix", {1});
    const std::pair<std::string, mode_t> modes[] = {{scratch.Path("movie.avi"), source}, {elsewhere.Path("movie.avi"), source},
                                                    {scratch.Path("movie.crc"), 0666}, {elsewhere.Path("movie.fix"), 0666}};
    for (const auto& [path, mode] : modes) ASSERT_EQ(chmod(path.c_str(), mode), 0);
    StreamScanBrokenFile(scratch.Path("movie.avi").c_str(), scratch.path().c_str(), StreamControl{});
    StreamScanValidFile(elsewhere.Path("movie.avi").c_str(), scratch.Path("movie.crc").c_str(), elsewhere.path().c_str(),
                        StreamControl{});
    EXPECT_EQ(ModeOf(scratch.Path("movie.crc")), expected) << std::oct << source;
    EXPECT_EQ(ModeOf(elsewhere.Path("movie.fix")), expected) << std::oct << source;
  }
}

}  // namespace
#endif
