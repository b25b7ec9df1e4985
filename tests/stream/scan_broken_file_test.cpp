// Broken-file scan: the test file it writes, how it names it, and every way it stops.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "stream/operations.h"
#include "tests/testing/engine_test.h"
#include "tests/testing/reference.h"

namespace {

class ScanBrokenFileTest : public EngineTest {
 protected:
  // Scans a file of the scratch folder into the scratch folder itself.
  int Scan(const std::string& brokenName) { return Scan(brokenName, scratch.path()); }
  int Scan(const std::string& brokenName, const std::string& outputFolder) {
    return Finished(Took(StreamScanBrokenFile(scratch.Path(brokenName).c_str(), outputFolder.c_str(), {})));
  }
  // Each case of a table starts afresh: no faults, no boxes, an empty ledger.
  void Restart() {
    ClearFaults();
    ResetLedger();
    ForgetTaken();
  }
};

struct ExampleCase {
  const char* what;
  Bytes broken;
  Bytes testFile;
};

TEST_F(ScanBrokenFileTest, WritesTheSizeAndOneChecksumPerBlock) {
  const Bytes block = RandomBytes(3, 4096);
  const ExampleCase cases[] = {
      {"empty file", {}, {0, 0, 0, 0}},
      {"ABCDE", {0x41, 0x42, 0x43, 0x44, 0x45}, {5, 0, 0, 0, 0x04, 0x42, 0x43, 0x44}},
      {"one byte 7F", {0x7F}, {1, 0, 0, 0, 0x7F, 0, 0, 0}},
      {"one whole block", block, Concat({Le32(4096), Le32(ReferenceChecksum(block, 0))})},
      // The second block holds one byte and 4095 zeros: its checksum is that byte.
      {"a block and one byte", Concat({block, {0xB7}}), Concat({Le32(4097), Le32(ReferenceChecksum(block, 0)), {0xB7, 0, 0, 0}})},
      {"8192 zero bytes", Bytes(8192, 0), {0x00, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"4100 bytes of 01", Bytes(4100, 0x01), {0x04, 0x10, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1}},
  };
  int index = 0;
  for (const ExampleCase& c : cases) {
    Restart();
    const std::string name = "example" + std::to_string(index++);
    scratch.Write(name + ".bin", c.broken);

    EXPECT_EQ(Scan(name + ".bin"), 1) << c.what;
    EXPECT_EQ(scratch.Read(name + ".crc"), c.testFile) << c.what;
    EXPECT_EQ(scratch.Read(name + ".bin"), c.broken) << c.what;
  }
}

TEST_F(ScanBrokenFileTest, AgreesWithTheReferenceOnRandomFiles) {
  const size_t sizes[] = {2, 4095, 3 * 4096, 3 * 4096 + 1, 300007, (1u << 20) + 123};
  for (const size_t size : sizes) {
    const Bytes broken = RandomBytes(static_cast<uint32_t>(size), size);
    scratch.Write("random.bin", broken);
    ASSERT_EQ(Scan("random.bin"), 1) << size;
    EXPECT_EQ(scratch.Read("random.crc"), ReferenceTestFile(broken)) << size;
    EXPECT_EQ(scratch.Read("random.bin"), broken) << size;
  }
}

TEST_F(ScanBrokenFileTest, NamesTheTestFileAfterTheStemAndReplacesAnOldOne) {
  const struct {
    const char* broken;
    const char* testFile;
  } cases[] = {{"movie.avi", "movie.crc"}, {"archive.tar.gz", "archive.tar.crc"}, {".profile", ".crc"}};
  const Bytes contents = RandomBytes(5, 5000);
  for (const auto& c : cases) {
    scratch.Write(c.broken, contents);
    // A longer old file of the same name: replacing must also shorten it.
    scratch.Write(c.testFile, Bytes(10000, 0xEE));
    EXPECT_EQ(Scan(c.broken), 1) << c.broken;
    EXPECT_EQ(scratch.Read(c.testFile), ReferenceTestFile(contents)) << c.broken;
  }
}

TEST_F(ScanBrokenFileTest, RefusesAMissingFileAtItsOpen) {
  EXPECT_EQ(Scan("absent.bin"), 0);
  ExpectStop(Step::OpenBroken, SystemErrorKind::FileNotFound);
  EXPECT_FALSE(scratch.Exists("absent.crc"));
}

TEST_F(ScanBrokenFileTest, ScansAReadOnlyFileItOnlyReads) {
  const Bytes broken = RandomBytes(9, 5000);
  scratch.Write("locked.bin", broken);
  scratch.MakeReadOnly("locked.bin");
  EXPECT_EQ(Scan("locked.bin"), 1);
  EXPECT_EQ(scratch.Read("locked.crc"), ReferenceTestFile(broken));
  EXPECT_EQ(scratch.Read("locked.bin"), broken);
}

TEST_F(ScanBrokenFileTest, ReportsTheCreateWhenTheOutputFolderIsMissing) {
  scratch.Write("broken.bin", RandomBytes(10, 5000));
  EXPECT_EQ(Scan("broken.bin", scratch.Path("missing")), 0);
  ExpectStop(Step::CreateOutput, SystemErrorKind::PathNotFound);
}

TEST_F(ScanBrokenFileTest, LeavesAnExistingFileAloneWhenThePathHasNoStem) {
  // Without a stem the output path would be the folder text alone, here an existing file.
  ASSERT_EQ(scratch.path().find('.'), std::string::npos) << "the scratch path itself must give no stem";
  const Bytes kept = {'k', 'e', 'e', 'p'};
  for (const uint32_t size : {0u, 5000u}) {
    Restart();
    scratch.Write("noext", RandomBytes(size, size));
    scratch.Write("existing.dat", kept);
    EXPECT_EQ(Scan("noext", scratch.Path("existing.dat")), 0) << size;
    ExpectStop(Step::CreateOutput, SystemErrorKind::InvalidName);
    EXPECT_EQ(scratch.Read("existing.dat"), kept) << size;
  }
}

TEST_F(ScanBrokenFileTest, RefusesAnOutputPathLongerThanAPathBuffer) {
  // Folder text and stem "broken" together one character over the 514 that fit.
  std::string folder = scratch.path();
  while (folder.size() < 509) folder += kPathSeparator + std::string(100, 'd');
  folder.resize(509);
  scratch.Write("broken.bin", RandomBytes(11, 5000));
  EXPECT_EQ(Scan("broken.bin", folder), 0);
  ExpectStop(Step::CreateOutput, SystemErrorKind::NameTooLong);
}

TEST_F(ScanBrokenFileTest, NeverEmptiesTheBrokenFileWhenItIsItsOwnOutputPath) {
  // A broken file named like its test file, scanned into its own folder: the create must be
  // refused (the file is held open), not replace the file being scanned.
  const Bytes broken = RandomBytes(13, 9000);
  scratch.Write("self.crc", broken);
  EXPECT_EQ(Scan("self.crc"), 0);
  ExpectStop(Step::CreateOutput, SystemErrorKind::SharingViolation);
  EXPECT_EQ(scratch.Read("self.crc"), broken);
}

}  // namespace
