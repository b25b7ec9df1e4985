// Broken-file scan: the test file it writes, how it names it, and every way it stops.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "whole_file/operations.h"
#include "tests/testing/engine_test.h"
#include "tests/testing/reference.h"

namespace {

class ScanBrokenFileTest : public EngineTest {
 protected:
  // Scans a file of the scratch folder into the scratch folder itself.
  int Scan(const std::string& brokenName) {
    return Finished(ScanBrokenFile(reporter(), scratch.Path(brokenName).c_str(), scratch.path().c_str()));
  }
  int Scan(const std::string& brokenName, const std::string& outputFolder) {
    return Finished(ScanBrokenFile(reporter(), scratch.Path(brokenName).c_str(), outputFolder.c_str()));
  }
  // Each case of a table starts afresh: no faults, no boxes, an empty ledger.
  void Restart() {
    ClearFaults();
    ResetLedger();
    ForgetReported();
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
    EXPECT_TRUE(Reported().empty()) << c.what;
    EXPECT_EQ(scratch.Read(name + ".crc"), c.testFile) << c.what;
    EXPECT_EQ(scratch.Read(name + ".bin"), c.broken) << c.what;
    // Output file, broken file, then the test-file buffer and the image; an empty file
    // gets neither buffer.
    EXPECT_EQ(ReleaseOrder(), c.broken.empty() ? "F2 F1" : "F2 F1 M2 M1") << c.what;
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
  EXPECT_TRUE(Reported().empty());
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

struct FaultCase {
  const char* step;
  uint32_t brokenSize;
  Service service;
  uint32_t nthCall;
  FaultKind kind;
  SystemErrorKind shown;  // injected for a plain failure; the backend's own for a short transfer
  Step stop;
  const char* released;
  bool testFileLeft;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.step; }

class ScanBrokenFileFaultTest : public ScanBrokenFileTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ScanBrokenFileFaultTest, ReportsTheStepAndReleasesEverything) {
  const FaultCase& c = GetParam();
  const Bytes broken = RandomBytes(c.brokenSize, c.brokenSize);
  scratch.Write("broken.bin", broken);
  const uint32_t injected = c.kind == FaultKind::Fail ? SystemErrorCode(c.shown) : 0;
  InjectFault(c.service, c.nthCall, injected, c.kind);

  EXPECT_EQ(Scan("broken.bin"), 0);
  ExpectStop(c.stop, c.shown);
  EXPECT_EQ(ReleaseOrder(), c.released);
  EXPECT_EQ(scratch.Exists("broken.crc"), c.testFileLeft);
  EXPECT_EQ(scratch.Read("broken.bin"), broken);
}

constexpr FaultKind kFail = FaultKind::Fail;
constexpr FaultKind kShort = FaultKind::ShortTransfer;
using K = SystemErrorKind;

INSTANTIATE_TEST_SUITE_P(
    EveryStep, ScanBrokenFileFaultTest,
    ::testing::Values(
        FaultCase{"Open", 5000, Service::OpenInputFile, 1, kFail, K::SharingViolation, Step::OpenBroken, "", false},
        FaultCase{"Size", 5000, Service::GetFileSize32, 1, kFail, K::AccessDenied, Step::SizeBroken, "F1", false},
        FaultCase{"Image", 5000, Service::CommitMemory, 1, kFail, K::NotEnoughMemory, Step::AllocateBroken, "F1", false},
        FaultCase{"Read", 5000, Service::ReadWhole, 1, kFail, K::AccessDenied, Step::ReadBroken, "F1 M1", false},
        FaultCase{"ShortRead", 5000, Service::ReadWhole, 1, kShort, K::EndOfFile, Step::ReadBroken, "F1 M1", false},
        FaultCase{"TestBuffer", 5000, Service::CommitMemory, 2, kFail, K::NotEnoughMemory, Step::AllocateTestFileBuffer, "F1 M1", false},
        FaultCase{"Create", 5000, Service::CreateOutputFile, 1, kFail, K::AccessDenied, Step::CreateOutput, "F1 M2 M1", false},
        FaultCase{"Write", 5000, Service::WriteWhole, 1, kFail, K::DiskFull, Step::WriteOutput, "F2 F1 M2 M1", true},
        FaultCase{"ShortWrite", 5000, Service::WriteWhole, 1, kShort, K::DiskFull, Step::WriteOutput, "F2 F1 M2 M1", true},
        // Written but not known to be kept: the flush, or a close that reports a late failure.
        FaultCase{"Flush", 5000, Service::FlushFile, 1, kFail, K::DiskFull, Step::WriteOutput, "F2 F1 M2 M1", true},
        FaultCase{"Close", 5000, Service::CloseFile, 1, kFail, K::DiskFull, Step::WriteOutput, "F2 F1 M2 M1", true},
        FaultCase{"EmptyOpen", 0, Service::OpenInputFile, 1, kFail, K::FileNotFound, Step::OpenBroken, "", false},
        FaultCase{"EmptySize", 0, Service::GetFileSize32, 1, kFail, K::AccessDenied, Step::SizeBroken, "F1", false},
        FaultCase{"EmptyCreate", 0, Service::CreateOutputFile, 1, kFail, K::AccessDenied, Step::CreateOutput, "F1", false},
        FaultCase{"EmptyWrite", 0, Service::WriteWhole, 1, kFail, K::DiskFull, Step::WriteOutput, "F2 F1", true},
        FaultCase{"EmptyShortWrite", 0, Service::WriteWhole, 1, kShort, K::DiskFull, Step::WriteOutput, "F2 F1", true},
        FaultCase{"EmptyFlush", 0, Service::FlushFile, 1, kFail, K::AccessDenied, Step::WriteOutput, "F2 F1", true},
        FaultCase{"EmptyClose", 0, Service::CloseFile, 1, kFail, K::DiskFull, Step::WriteOutput, "F2 F1", true}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.step); });

TEST_F(ScanBrokenFileTest, RefusesAMissingFileAtItsOpen) {
  EXPECT_EQ(Scan("absent.bin"), 0);
  ExpectStop(Step::OpenBroken, SystemErrorKind::FileNotFound);
  EXPECT_FALSE(scratch.Exists("absent.crc"));
}

TEST_F(ScanBrokenFileTest, RefusesAReadOnlyFileAtItsOpenAlthoughItOnlyReads) {
  const Bytes broken = RandomBytes(9, 5000);
  scratch.Write("locked.bin", broken);
  scratch.MakeReadOnly("locked.bin");
  EXPECT_EQ(Scan("locked.bin"), 0);
  ExpectStop(Step::OpenBroken, SystemErrorKind::AccessDenied);
  EXPECT_FALSE(scratch.Exists("locked.crc"));
  EXPECT_EQ(scratch.Read("locked.bin"), broken);
}

TEST_F(ScanBrokenFileTest, ReportsTheCreateWhenTheOutputFolderIsMissing) {
  scratch.Write("broken.bin", RandomBytes(10, 5000));
  EXPECT_EQ(Scan("broken.bin", scratch.Path("missing")), 0);
  ExpectStop(Step::CreateOutput, SystemErrorKind::PathNotFound);
  EXPECT_EQ(ReleaseOrder(), "F1 M2 M1");
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
    EXPECT_EQ(ReleaseOrder(), size == 0 ? "F1" : "F1 M2 M1") << size;
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
  EXPECT_EQ(ReleaseOrder(), "F1 M2 M1");
}

TEST_F(ScanBrokenFileTest, NeverEmptiesTheBrokenFileWhenItIsItsOwnOutputPath) {
  // A broken file named like its test file, scanned into its own folder: the create must be
  // refused (the file is held open), not replace the file being scanned.
  const Bytes broken = RandomBytes(13, 9000);
  scratch.Write("self.crc", broken);
  EXPECT_EQ(Scan("self.crc"), 0);
  ExpectStop(Step::CreateOutput, SystemErrorKind::SharingViolation);
  EXPECT_EQ(scratch.Read("self.crc"), broken);
  EXPECT_EQ(ReleaseOrder(), "F1 M2 M1");
}

TEST_F(ScanBrokenFileTest, RefusesAFileOf4GiBOrMoreAtItsSize) {
  // Its low 32 bits (100) would describe a different file.
  scratch.Resize("huge.bin", (uint64_t{1} << 32) + 100);
  EXPECT_EQ(Scan("huge.bin"), 0);
  ExpectStop(Step::SizeBroken, SystemErrorKind::FileTooLarge);
  EXPECT_EQ(ReleaseOrder(), "F1");
  EXPECT_FALSE(scratch.Exists("huge.crc"));
}

TEST_F(ScanBrokenFileTest, FailsAtTheImageWhenItsCapacityWrapsTo0) {
  scratch.Resize("huge.bin", 0xFFFFF001u);
  EXPECT_EQ(Scan("huge.bin"), 0);
  ExpectStop(Step::AllocateBroken, SystemErrorKind::InvalidParameter);
  EXPECT_EQ(ServiceCallCount(Service::ReadWhole), 0u);
  EXPECT_EQ(ReleaseOrder(), "F1");
  EXPECT_FALSE(scratch.Exists("huge.crc"));
}

#ifdef _WIN32
TEST_F(ScanBrokenFileTest, RefusesAFileAnotherProgramHoldsOpenForWriting) {
  scratch.Write("busy.bin", RandomBytes(12, 5000));
  HANDLE writer = CreateFileA(scratch.Path("busy.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const int result = Scan("busy.bin");
  CloseHandle(writer);
  EXPECT_EQ(result, 0);
  ExpectStop(Step::OpenBroken, SystemErrorKind::SharingViolation);
  EXPECT_FALSE(scratch.Exists("busy.crc"));
}
#endif

}  // namespace
