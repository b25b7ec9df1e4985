// Both single-file formats in their small and large forms, the compact test file and the request
// for a larger one against files kept in tests/golden: the inputs are built here, the scans must
// write exactly the kept files, and the repairs must restore the valid file from them.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "tests/golden/golden_files.h"
#include "tests/stream/stream_test.h"
#include "tests/testing/reference.h"

namespace {

// The large form's test file, 4 MiB of mostly zero entries, is kept packed and unpacked into
// the build; under Wine, drive Z: is the build machine's root.
Bytes UnpackedGoldenFile(const std::string& name) {
#ifdef _WIN32
  std::string path = std::string("Z:") + VARNELL_GOLDEN_UNPACKED + "/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return ReadWholeFile(path);
#else
  return ReadWholeFile(std::string(VARNELL_GOLDEN_UNPACKED) + "/" + name);
#endif
}

// The two copies of one golden input, each in its own folder as on two machines.
class GoldenTest : public StreamTest {
 protected:
  // Scans the copies of name; every test file and repair file must be the golden one. Then repairs.
  void Exchange(const std::string& name, const Bytes& goldenTest, const Bytes& goldenRepair, const TestFileChoice& choice = {}) {
    const StreamControl none;
    ASSERT_EQ(StreamScanBrokenFile(scratch.Path(name + ".bin").c_str(), scratch.path().c_str(), none, choice).ending, Ending::Done);
    EXPECT_TRUE(scratch.Read(name + ".crc") == goldenTest) << name << ".crc";
    ASSERT_EQ(StreamScanValidFile(elsewhere.Path(name + ".bin").c_str(), scratch.Path(name + ".crc").c_str(),
                                  elsewhere.path().c_str(), none)
                  .ending,
              Ending::Done);
    EXPECT_TRUE(elsewhere.Read(name + ".fix") == goldenRepair) << name << ".fix";
    ASSERT_EQ(StreamRepairBrokenFile(scratch.Path(name + ".bin").c_str(), elsewhere.Path(name + ".fix").c_str(), RepairOptions{}, none)
                  .ending,
              Ending::Done);
  }
};

TEST_F(GoldenTest, TheSmallForms) {
  Bytes valid(4100, 0);
  const Bytes head = {1, 0, 0, 0, 2, 0, 0, 0};
  std::copy(head.begin(), head.end(), valid.begin());
  const Bytes tail = {'A', 'B', 'C', 'D'};
  std::copy(tail.begin(), tail.end(), valid.begin() + 4096);
  Bytes broken = valid;
  broken[0] = 5;
  elsewhere.Write("report.bin", valid);
  scratch.Write("report.bin", broken);
  Exchange("report", GoldenFile("report.crc"), GoldenFile("report.fix"));
  EXPECT_TRUE(scratch.Read("report.bin") == valid);

  const Bytes five = {'A', 'B', 'C', 'D', 'E'};
  elsewhere.Write("longer-copy.bin", five);
  scratch.Write("longer-copy.bin", Concat({five, Bytes(4, 0)}));
  Exchange("longer-copy", GoldenFile("longer-copy.crc"), GoldenFile("longer-copy.fix"));
  EXPECT_TRUE(scratch.Read("longer-copy.bin") == five);
}

TEST_F(GoldenTest, TheLargeForms) {
  constexpr uint64_t kSize = (uint64_t{1} << 32) + 5000;
  constexpr uint64_t kLastBlock = 4294971392;
  const auto text = [](const char* letters) { return Bytes(letters, letters + 16); };
  for (const ScratchFolder* side : {&scratch, &elsewhere}) side->Resize("disk.bin", kSize);
  WriteBytesAt(elsewhere.Path("disk.bin"), 8192, text("block three, ok."));
  WriteBytesAt(elsewhere.Path("disk.bin"), kLastBlock, text("the last block.."));
  WriteBytesAt(scratch.Path("disk.bin"), 8192, text("block three, bad"));
  WriteBytesAt(scratch.Path("disk.bin"), kLastBlock, text("the last block!!"));
  Exchange("disk", UnpackedGoldenFile("disk.crc"), GoldenFile("disk.fix"));
  EXPECT_EQ(scratch.Size("disk.bin"), kSize);
  EXPECT_TRUE(ReadBytesAt(scratch.Path("disk.bin"), 8192, 16) == text("block three, ok."));
  EXPECT_TRUE(ReadBytesAt(scratch.Path("disk.bin"), kLastBlock, 16) == text("the last block.."));
}

// A file of 1026 blocks, so that the compact test file of the smallest budget (125 symbols,
// 4076 bytes) is shorter than the plain one (4108 bytes). Zero but for 16 bytes at the start of
// each block listed, which hold text(block).
Bytes BlocksWithText(const std::vector<uint32_t>& blocks, const std::function<std::string(uint32_t)>& text) {
  Bytes file(4 * 1024 * 1024 + 5000, 0);
  for (const uint32_t block : blocks) {
    const std::string t = text(block);
    std::copy(t.begin(), t.end(), file.begin() + size_t{block - 1} * 4096);
  }
  return file;
}

TEST_F(GoldenTest, TheCompactTestFileAndTheRequestForALargerOne) {
  const auto valid = BlocksWithText({3, 1026}, [](uint32_t b) { return b == 3 ? "block three, ok." : "the last block.."; });
  elsewhere.Write("sketch.bin", valid);
  scratch.Write("sketch.bin", BlocksWithText({3, 1026}, [](uint32_t b) { return b == 3 ? "block three, bad" : "the last block!!"; }));
  Exchange("sketch", GoldenFile("sketch.crc"), GoldenFile("sketch.fix"), TestFileChoice{.budget = 4096});
  EXPECT_TRUE(scratch.Read("sketch.bin") == valid);

  // 300 damaged blocks are more than 125 symbols decode: the answer asks for more, and the
  // larger test file, longer than the plain form would be, is the plain form.
  std::vector<uint32_t> first300(300);
  std::iota(first300.begin(), first300.end(), 1);
  const auto numbered = [](const char* end) {
    return [end](uint32_t block) {
      char text[17];
      std::snprintf(text, sizeof text, "block %03u is %s", block, end);
      return std::string(text);
    };
  };
  const Bytes broken = BlocksWithText(first300, numbered("bad"));
  elsewhere.Write("asking.bin", BlocksWithText(first300, numbered("ok.")));
  scratch.Write("asking.bin", broken);
  const StreamControl none;
  ASSERT_EQ(StreamScanBrokenFile(scratch.Path("asking.bin").c_str(), scratch.path().c_str(), none, TestFileChoice{.budget = 4096}).ending,
            Ending::Done);
  EXPECT_TRUE(scratch.Read("asking.crc") == GoldenFile("asking.crc")) << "asking.crc";
  ASSERT_EQ(StreamScanValidFile(elsewhere.Path("asking.bin").c_str(), scratch.Path("asking.crc").c_str(), elsewhere.path().c_str(), none)
                .ending,
            Ending::MoreNeeded);
  EXPECT_TRUE(elsewhere.Read("asking.fix") == GoldenFile("asking.fix")) << "asking.fix";
  ASSERT_EQ(StreamRepairBrokenFile(scratch.Path("asking.bin").c_str(), elsewhere.Path("asking.fix").c_str(), RepairOptions{}, none).ending,
            Ending::MoreNeeded);
  EXPECT_TRUE(scratch.Read("asking.crc") == ReferenceTestFile(broken));
}

}  // namespace
