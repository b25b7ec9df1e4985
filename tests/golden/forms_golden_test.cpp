// Both single-file formats in their small and large forms against files kept in tests/golden:
// the inputs are built here, the scans must write exactly the kept files, and the repairs must
// restore the valid file from them.
#include <gtest/gtest.h>

#include <string>

#include "tests/golden/golden_files.h"
#include "tests/stream/stream_test.h"

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
  void Exchange(const std::string& name, const Bytes& goldenTest, const Bytes& goldenRepair) {
    const StreamControl none;
    ASSERT_EQ(StreamScanBrokenFile(scratch.Path(name + ".bin").c_str(), scratch.path().c_str(), none).ending, Ending::Done);
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

}  // namespace
