// The platform services on real files and real memory, in both backends: what the engine
// relies on them to refuse, and what the ledger and fault injection count.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/fault_injection.h"
#include "platform/ledger.h"
#include "platform/platform.h"
#include "tests/testing/engine_test.h"

namespace {

bool RunningAsRoot() {
#ifdef _WIN32
  return false;
#else
  return geteuid() == 0;
#endif
}

using PlatformTest = EngineTest;

TEST_F(PlatformTest, CommittedMemoryIsZeroFilledAndCountedUntilReleased) {
  auto* region = static_cast<uint8_t*>(CommitMemory(10000));
  ASSERT_NE(region, nullptr);
  for (uint32_t i = 0; i < 12288; ++i) ASSERT_EQ(region[i], 0) << i;
  EXPECT_EQ(HeldRegionCount(), 1u);
  EXPECT_EQ(CommittedBytes(), 12288u);
  ReleaseMemory(region);
  EXPECT_EQ(ReleaseOrder(), "M1");
}

TEST_F(PlatformTest, ZeroBytesOfMemoryAreRefused) {
  EXPECT_EQ(CommitMemory(0), nullptr);
  EXPECT_EQ(ReserveMemory(0), nullptr);
}

TEST_F(PlatformTest, ReservedPagesBecomeUsableOneAtATime) {
  auto* area = static_cast<uint8_t*>(ReserveMemory(100 * kPageSize));
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(CommittedBytes(), 0u);
  for (uint32_t page : {0u, 1u, 57u}) {
    uint8_t* at = area + page * kPageSize;
    ASSERT_EQ(CommitPage(at), 1);
    EXPECT_EQ(at[0], 0);
    EXPECT_EQ(at[kPageSize - 1], 0);
    std::memset(at, 0xAB, kPageSize);
  }
  EXPECT_EQ(CommittedBytes(), 3u * kPageSize);
  EXPECT_EQ(PeakCommittedBytes(), 3u * kPageSize);
  ReleaseMemory(area);
  EXPECT_EQ(CommittedBytes(), 0u);
}

TEST_F(PlatformTest, ReadingMoreThanTheFileHoldsFailsWithEndOfFile) {
  scratch.Write("short.bin", Bytes(100, 7));
  FileHandle file = OpenInputFile(scratch.Path("short.bin").c_str());
  ASSERT_NE(file, nullptr);
  Bytes buffer(200, 0);
  EXPECT_EQ(ReadWhole(file, buffer.data(), 200), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::EndOfFile));
  CloseFile(file);
}

TEST_F(PlatformTest, ShortTransfersReportedAsSuccessByTheSystemAreFailures) {
  scratch.Write("data.bin", Bytes(5000, 3));
  FileHandle file = OpenInputFile(scratch.Path("data.bin").c_str());
  ASSERT_NE(file, nullptr);
  Bytes buffer(5000, 0);
  InjectFault(Service::ReadWhole, 1, 0, FaultKind::ShortTransfer);
  EXPECT_EQ(ReadWhole(file, buffer.data(), 5000), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::EndOfFile));

  ASSERT_EQ(SeekToStart(file), 1);
  InjectFault(Service::WriteWhole, 1, 0, FaultKind::ShortTransfer);
  EXPECT_EQ(WriteWhole(file, buffer.data(), 5000), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::DiskFull));
  CloseFile(file);
}

TEST_F(PlatformTest, ReadsLargerThanOneTransferArriveWhole) {
  // Past 1 GiB the POSIX backend needs more than one read; the tail must arrive too.
  const uint32_t size = (1u << 30) + 4097;
  scratch.Resize("large.bin", size);
  FileHandle file = OpenInputFile(scratch.Path("large.bin").c_str());
  ASSERT_NE(file, nullptr);
  auto* image = static_cast<uint8_t*>(CommitMemory(size));
  ASSERT_NE(image, nullptr);
  image[size - 1] = 0x55;
  EXPECT_EQ(ReadWhole(file, image, size), 1);
  EXPECT_EQ(image[size - 1], 0);
  ReleaseMemory(image);
  CloseFile(file);
}

struct SizeCase {
  uint64_t length;
  bool accepted;
};

TEST_F(PlatformTest, SizesThatNeedMoreThan32BitsAreRefusedAsTooLarge) {
  const SizeCase cases[] = {
      {0, true},
      {0xFFFFFFFEull, true},
      {0xFFFFFFFFull, false},  // the failure value of the size query
      {0x100000000ull, false},
      {0x100000064ull, false},  // would measure 100 bytes in 32 bits
  };
  for (const SizeCase& c : cases) {
    scratch.Resize("sparse.bin", c.length);
    FileHandle file = OpenInputFile(scratch.Path("sparse.bin").c_str());
    ASSERT_NE(file, nullptr);
    uint32_t size = 12345;
    EXPECT_EQ(GetFileSize32(file, &size), c.accepted ? 1 : 0) << c.length;
    if (c.accepted) {
      EXPECT_EQ(size, c.length);
    } else {
      EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::FileTooLarge)) << c.length;
    }
    CloseFile(file);
  }
}

TEST_F(PlatformTest, InputFilesMustExistAndBeWritable) {
  EXPECT_EQ(OpenInputFile(scratch.Path("missing.bin").c_str()), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::FileNotFound));
  EXPECT_EQ(OpenInputFile(scratch.path().c_str()), nullptr) << "a folder is not a file";

  if (RunningAsRoot()) GTEST_SKIP() << "root may write read-only files; scripts/test runs this as a normal user";
  scratch.Write("locked.bin", Bytes(10, 1));
  scratch.MakeReadOnly("locked.bin");
  EXPECT_EQ(OpenInputFile(scratch.Path("locked.bin").c_str()), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::AccessDenied));
}

TEST_F(PlatformTest, OutputFilesReplaceWhatWasThere) {
  scratch.Write("out.crc", Bytes(9000, 0xEE));
  FileHandle file = CreateOutputFile(scratch.Path("out.crc").c_str());
  ASSERT_NE(file, nullptr);
  const Bytes fresh{1, 2, 3};
  EXPECT_EQ(WriteWhole(file, fresh.data(), 3), 1);
  CloseFile(file);
  EXPECT_EQ(scratch.Read("out.crc"), fresh);

  EXPECT_EQ(CreateOutputFile(scratch.Path("no-such-folder/out.crc").c_str()), nullptr);
  EXPECT_EQ(scratch.Exists("no-such-folder"), false);
}

TEST_F(PlatformTest, AnInjectedFaultHitsOnlyTheChosenCallWithTheChosenError) {
  scratch.Write("a.bin", Bytes(1, 1));
  scratch.Write("b.bin", Bytes(1, 2));
  const uint32_t error = SystemErrorCode(SystemErrorKind::SharingViolation);
  InjectFault(Service::OpenInputFile, 2, error);
  FileHandle first = OpenInputFile(scratch.Path("a.bin").c_str());
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(OpenInputFile(scratch.Path("b.bin").c_str()), nullptr);
  EXPECT_EQ(LastSystemError(), error);
  FileHandle third = OpenInputFile(scratch.Path("b.bin").c_str());
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(ServiceCallCount(Service::OpenInputFile), 3u);
  EXPECT_EQ(OpenFileCount(), 2u);
  CloseFile(third);
  CloseFile(first);
  EXPECT_EQ(ReleaseOrder(), "F2 F1");
}

}  // namespace

namespace {

TEST_F(PlatformTest, AFileHeldOpenCannotBeOpenedOrEmptiedAgain) {
  // Windows refuses the second open through the share mode; the POSIX backend does the same,
  // so an output path that names an operation's own input never empties it.
  const Bytes contents = RandomBytes(3, 5000);
  scratch.Write("held.bin", contents);
  FileHandle held = OpenInputFile(scratch.Path("held.bin").c_str());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(OpenInputFile(scratch.Path("held.bin").c_str()), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::SharingViolation));
  EXPECT_EQ(CreateOutputFile(scratch.Path("held.bin").c_str()), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::SharingViolation));
  CloseFile(held);
  EXPECT_EQ(scratch.Read("held.bin"), contents);

  FileHandle again = OpenInputFile(scratch.Path("held.bin").c_str());
  EXPECT_NE(again, nullptr) << "closing gives the file back";
  CloseFile(again);
}

}  // namespace

#ifndef _WIN32
namespace {

// Free 2 MiB pages in the pool the administrator reserved, from /proc/meminfo.
long FreeHugePages() {
  std::FILE* info = std::fopen("/proc/meminfo", "r");
  if (info == nullptr) return 0;
  char line[256];
  long free = 0;
  while (std::fgets(line, sizeof line, info) != nullptr) {
    if (std::sscanf(line, "HugePages_Free: %ld", &free) == 1) break;
  }
  std::fclose(info);
  return free;
}

TEST_F(PlatformTest, LargeRegionsComeFromTheHugePagePoolWhereOneIsReserved) {
  const long before = FreeHugePages();
  if (before < 3) GTEST_SKIP() << "no huge page pool (sysctl vm.nr_hugepages)";
  constexpr uint32_t kSize = (5u << 20) + 1;  // three 2 MiB pages
  auto* region = static_cast<uint8_t*>(CommitMemory(kSize));
  ASSERT_NE(region, nullptr);
  for (uint32_t i = 0; i < kSize; i += 4093) ASSERT_EQ(region[i], 0) << i;
  region[kSize - 1] = 1;
  EXPECT_EQ(FreeHugePages(), before - 3) << "the pages in use come from the pool";
  EXPECT_EQ(CommittedBytes(), (kSize + kPageSize - 1) / kPageSize * kPageSize);
  ReleaseMemory(region);
  EXPECT_EQ(FreeHugePages(), before) << "the pages go back to the pool";
}

}  // namespace
#endif
