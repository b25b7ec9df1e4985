// The platform services on real files and real memory, in both backends: what the engine
// relies on them to refuse, and what the ledger and fault injection count.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "platform/fault_injection.h"
#include "platform/ledger.h"
#include "platform/platform.h"
#ifdef _WIN32
#include "platform/win32/wide.h"
#endif
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

namespace {

// ---- 64-bit files, lengths, and outputs that appear whole ----

TEST_F(PlatformTest, OffsetsPast4GiBReachTheirBytesInASparseFile) {
  constexpr uint64_t k4GiB = uint64_t{1} << 32;
  scratch.Resize("sparse.bin", k4GiB + 100);
  FileHandle file = OpenInputFile(scratch.Path("sparse.bin").c_str());
  ASSERT_NE(file, nullptr);
  uint64_t size = 0;
  ASSERT_EQ(GetFileSize64(file, &size), 1);
  EXPECT_EQ(size, k4GiB + 100);

  // Written across the 4 GiB line and read back; the low 32 bits alone would land at 0.
  const Bytes pattern = RandomBytes(7, 40);
  EXPECT_EQ(WriteAt(file, k4GiB - 20, pattern.data(), 40), 1);
  Bytes back(40, 0);
  EXPECT_EQ(ReadAt(file, k4GiB - 20, back.data(), 40), 1);
  EXPECT_EQ(back, pattern);
  Bytes front(40, 0xAA);
  EXPECT_EQ(ReadAt(file, 0, front.data(), 40), 1);
  EXPECT_EQ(front, Bytes(40, 0)) << "nothing written at the wrapped offset";

  // Past the end: a read fails with end of file, a write grows the file.
  EXPECT_EQ(ReadAt(file, k4GiB + 90, back.data(), 20), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::EndOfFile));
  EXPECT_EQ(WriteAt(file, k4GiB + 200, pattern.data(), 40), 1);
  ASSERT_EQ(GetFileSize64(file, &size), 1);
  EXPECT_EQ(size, k4GiB + 240);
  EXPECT_EQ(CloseFile(file), 1);
  EXPECT_EQ(scratch.Size("sparse.bin"), k4GiB + 240);
}

TEST_F(PlatformTest, SetFileLengthCutsAndExtendsWithZeros) {
  const Bytes contents = RandomBytes(8, 10000);
  scratch.Write("length.bin", contents);
  FileHandle file = OpenInputFile(scratch.Path("length.bin").c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(SetFileLength(file, 5000), 1);
  EXPECT_EQ(scratch.Size("length.bin"), 5000u);
  EXPECT_EQ(SetFileLength(file, 7000), 1);
  // The position is the caller's business afterwards: a write from the start still lands there.
  ASSERT_EQ(SeekToStart(file), 1);
  ASSERT_EQ(WriteWhole(file, contents.data(), 10), 1);
  EXPECT_EQ(FlushFile(file), 1);
  EXPECT_EQ(CloseFile(file), 1);
  EXPECT_EQ(scratch.Read("length.bin"), Concat({Part(contents, 0, 5000), Bytes(2000, 0)}));

  ClearFaults();
  InjectFault(Service::SetFileLength, 1, SystemErrorCode(SystemErrorKind::DiskFull));
  file = OpenInputFile(scratch.Path("length.bin").c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(SetFileLength(file, 10), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::DiskFull));
  EXPECT_EQ(CloseFile(file), 1);
  EXPECT_EQ(scratch.Size("length.bin"), 7000u);
}

TEST_F(PlatformTest, ATemporaryOutputReplacesTheOlderFileOnlyAtTheRename) {
  const Bytes older = RandomBytes(9, 3000);
  const Bytes newer = RandomBytes(10, 5000);
  scratch.Write("out.fix", older);
  scratch.Write("source.bin", older);
  FileHandle source = OpenInputFile(scratch.Path("source.bin").c_str());
  ASSERT_NE(source, nullptr);
  const std::string finalPath = scratch.Path("out.fix");
  char temporaryPath[600] = "";
  FileHandle file = CreateTemporaryFile(finalPath.c_str(), source, temporaryPath, sizeof temporaryPath);
  ASSERT_NE(file, nullptr);
  const std::string temporary = temporaryPath;
  EXPECT_EQ(temporary.rfind(scratch.path() + kPathSeparator, 0), 0u) << "beside the final file: " << temporary;
  EXPECT_NE(temporary, finalPath);
  ASSERT_EQ(WriteWhole(file, newer.data(), 5000), 1);
  ASSERT_EQ(FlushFile(file), 1);
  ASSERT_EQ(CloseFile(file), 1);
  EXPECT_EQ(scratch.Read("out.fix"), older) << "written whole, not yet renamed";

  ASSERT_EQ(ReplaceWithFile(temporary.c_str(), finalPath.c_str()), 1);
  EXPECT_EQ(scratch.Read("out.fix"), newer);
  EXPECT_FALSE(std::filesystem::exists(temporary));

  // An abandoned output goes, and the file it would have replaced stays.
  file = CreateTemporaryFile(finalPath.c_str(), source, temporaryPath, sizeof temporaryPath);
  ASSERT_NE(file, nullptr);
  EXPECT_NE(std::string(temporaryPath), temporary) << "a fresh name each time";
  ASSERT_EQ(WriteWhole(file, older.data(), 10), 1);
  ASSERT_EQ(CloseFile(file), 1);
  EXPECT_EQ(RemoveFile(temporaryPath), 1);
  EXPECT_FALSE(std::filesystem::exists(temporaryPath));
  EXPECT_EQ(scratch.Read("out.fix"), newer);

  // A name that does not fit the caller's buffer is refused before anything is made.
  char small[8];
  EXPECT_EQ(CreateTemporaryFile(finalPath.c_str(), source, small, sizeof small), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::NameTooLong));
  EXPECT_EQ(CloseFile(source), 1);
}

// ---- Durable writes: a failing flush and a failing close ----

TEST_F(PlatformTest, AFailedFlushOrCloseIsReportedAndTheCloseStillReleasesTheFile) {
  scratch.Write("durable.bin", Bytes(100, 1));
  FileHandle file = OpenInputFile(scratch.Path("durable.bin").c_str());
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(WriteWhole(file, Bytes(50, 2).data(), 50), 1);
  InjectFault(Service::FlushFile, 1, SystemErrorCode(SystemErrorKind::DiskFull));
  EXPECT_EQ(FlushFile(file), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::DiskFull));
  EXPECT_EQ(FlushFile(file), 1) << "only the armed call fails";

  InjectFault(Service::CloseFile, 1, SystemErrorCode(SystemErrorKind::AccessDenied));
  EXPECT_EQ(CloseFile(file), 0);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::AccessDenied));
  EXPECT_EQ(OpenFileCount(), 0u);
  // Really closed: the file opens again, which a held file would not.
  FileHandle again = OpenInputFile(scratch.Path("durable.bin").c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(CloseFile(again), 1);
  EXPECT_EQ(scratch.Read("durable.bin"), Concat({Bytes(50, 2), Bytes(50, 1)}));
}

// ---- Regular files only ----

struct RefusedPath {
  std::string name;
  std::string path;
  SystemErrorKind error;
};

void ExpectRefusedBothWays(const RefusedPath& c) {
  SCOPED_TRACE(c.name);
  SetLastSystemError(0);
  EXPECT_EQ(OpenInputFile(c.path.c_str()), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(c.error));
  SetLastSystemError(0);
  EXPECT_EQ(CreateOutputFile(c.path.c_str()), nullptr);
  EXPECT_EQ(LastSystemError(), SystemErrorCode(c.error));
  EXPECT_EQ(OpenFileCount(), 0u);
}

TEST_F(PlatformTest, AFolderIsRefusedAsAFolder) {
  const std::string folder = scratch.MakeFolder("folder");
  scratch.Write("folder" + std::string(1, kPathSeparator) + "inside.bin", Bytes(10, 1));
  ExpectRefusedBothWays({"folder", folder, SystemErrorKind::IsFolder});
  EXPECT_EQ(scratch.Read("folder" + std::string(1, kPathSeparator) + "inside.bin"), Bytes(10, 1));
}

#ifdef _WIN32
// The form a path takes to the wide calls: as given while its absolute form fits the ordinary
// 260 units, beyond that the form that takes any length, of a drive or of a server's share,
// separators doubled by the name routines taken out; bytes that are not UTF-8 name no file.
TEST_F(PlatformTest, PathsReachTheWideCallsInTheFormTheirLengthNeeds) {
  const std::string longName(300, 'a');
  const std::wstring wideName(300, L'a');
  const struct {
    std::string path;
    std::wstring expected;
  } cases[] = {
      {"C:\\data\\Café.bin", L"C:\\data\\Café.bin"},
      {"C:\\out\\\\" + longName + ".crc", L"\\\\?\\C:\\out\\" + wideName + L".crc"},
      {"\\\\server\\share\\" + longName, L"\\\\?\\UNC\\server\\share\\" + wideName},
      {"\\\\?\\C:\\x.bin", L"\\\\?\\C:\\x.bin"},
      {"C:\\" + std::string(2000, 'b'), L"\\\\?\\C:\\" + std::wstring(2000, L'b')},
  };
  for (const auto& c : cases) {
    const SystemPath wide(c.path.c_str());
    ASSERT_TRUE(wide.ok()) << c.path.substr(0, 40);
    EXPECT_EQ(std::wstring(wide.c_str()), c.expected) << c.path.substr(0, 40);
  }
  SetLastSystemError(0);
  EXPECT_FALSE(SystemPath("C:\\\xFF.bin").ok());
  EXPECT_EQ(LastSystemError(), SystemErrorCode(SystemErrorKind::InvalidName));
}

// Device names open a device in every folder and with any extension; none is opened.
TEST_F(PlatformTest, DeviceNamesAreRefusedBeforeTheyAreOpened) {
  const RefusedPath cases[] = {
      {"CON", "CON", SystemErrorKind::NotRegularFile},
      {"nul", "nul", SystemErrorKind::NotRegularFile},
      {"NUL in a folder, with an extension", scratch.Path("NUL.txt"), SystemErrorKind::NotRegularFile},
      {"COM1", scratch.Path("com1.crc"), SystemErrorKind::NotRegularFile},
      // The superscript one, which Windows takes for a port too: the path is UTF-8 and the one
      // rule of device names reads it as it is.
      {"COM¹", scratch.Path("COM¹.txt"), SystemErrorKind::NotRegularFile},
      {"a physical drive", "\\\\.\\PhysicalDrive0", SystemErrorKind::NotRegularFile},
      {"the device namespace", "\\\\.\\C:", SystemErrorKind::NotRegularFile},
  };
  for (const RefusedPath& c : cases) ExpectRefusedBothWays(c);
  EXPECT_EQ(ServiceCallCount(Service::OpenInputFile), 7u);
  // Names that only begin like a device are files like any other.
  for (const char* name : {"CONSOLE.bin", "nul1.bin", "com10.bin"}) {
    FileHandle file = CreateOutputFile(scratch.Path(name).c_str());
    EXPECT_NE(file, nullptr) << name;
    if (file != nullptr) {
      EXPECT_EQ(CloseFile(file), 1);
    }
  }
}
#else
TEST_F(PlatformTest, APipeADeviceAndASocketAreRefusedAndNeverWaitedFor) {
  ASSERT_EQ(mkfifo(scratch.Path("pipe").c_str(), 0600), 0);
  const RefusedPath cases[] = {
      // Opening a FIFO for reading alone would wait for a writer; the refusal must not.
      {"FIFO", scratch.Path("pipe"), SystemErrorKind::NotRegularFile},
      {"/dev/null", "/dev/null", SystemErrorKind::NotRegularFile},
      {"/dev/zero", "/dev/zero", SystemErrorKind::NotRegularFile},
  };
  for (const RefusedPath& c : cases) ExpectRefusedBothWays(c);

  // A socket cannot be opened at all; the system says so in its own words.
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = scratch.Path("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(OpenInputFile(socketPath.c_str()), nullptr);
  EXPECT_EQ(CreateOutputFile(socketPath.c_str()), nullptr);
  close(listener);
  EXPECT_EQ(OpenFileCount(), 0u);
}

// Opening a device for writing can act (a tape rewinds, a watchdog starts): the kind is
// looked at first, and the system's own record of opens shows nothing was opened.
TEST_F(PlatformTest, APipeIsRefusedWithoutBeingOpened) {
  const std::string pipe = scratch.Path("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, pipe.c_str(), IN_OPEN), 0);
  EXPECT_EQ(OpenInputFile(pipe.c_str()), nullptr);
  EXPECT_EQ(CreateOutputFile(pipe.c_str()), nullptr);
  alignas(inotify_event) char events[256];
  EXPECT_LT(read(watch, events, sizeof events), 0) << "the pipe was opened";
  close(watch);
}

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

// A reservation in the pool is charged on first touch and can end in SIGBUS under a cgroup
// limit, so large regions never come from it.
TEST_F(PlatformTest, LargeRegionsLeaveTheHugePagePoolAlone) {
  const long before = FreeHugePages();
  if (before < 3) GTEST_SKIP() << "no huge page pool (sysctl vm.nr_hugepages)";
  constexpr uint32_t kSize = (5u << 20) + 1;
  auto* region = static_cast<uint8_t*>(CommitMemory(kSize));
  ASSERT_NE(region, nullptr);
  for (uint32_t i = 0; i < kSize; i += 4093) region[i] = 1;
  EXPECT_EQ(FreeHugePages(), before);
  ReleaseMemory(region);
}
#endif

}  // namespace
