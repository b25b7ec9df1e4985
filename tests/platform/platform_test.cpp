// The platform services on real files and real memory, in both backends: what the engine
// relies on them to refuse, and what the ledger and fault injection count.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <filesystem>
#include <string>
#include <vector>

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

// An input file opened by its path without waits, for the cases below.
File Opened(const std::string& path) {
  File file;
  EXPECT_FALSE(OpenInputFile(path.c_str(), nullptr, &file)) << path;
  return file;
}

TEST_F(PlatformTest, CommittedMemoryIsZeroFilledAndCountedUntilReleased) {
  Memory region;
  ASSERT_FALSE(CommitMemory(10000, &region));
  for (uint32_t i = 0; i < 12288; ++i) ASSERT_EQ(region.bytes()[i], 0) << i;
  EXPECT_EQ(HeldRegionCount(), 1u);
  EXPECT_EQ(CommittedBytes(), 12288u);
  region.Release();
  EXPECT_EQ(ReleaseOrder(), "M1");
}

TEST_F(PlatformTest, ZeroBytesOfMemoryAreRefused) {
  Memory region;
  EXPECT_TRUE(CommitMemory(0, &region));
  EXPECT_FALSE(region);
}

TEST_F(PlatformTest, ReadingMoreThanTheFileHoldsFailsWithEndOfFile) {
  scratch.Write("short.bin", Bytes(100, 7));
  const File file = Opened(scratch.Path("short.bin"));
  Bytes buffer(200, 0);
  EXPECT_EQ(ReadAt(file, 0, buffer.data(), 200).code, SystemErrorCode(SystemErrorKind::EndOfFile));
}

TEST_F(PlatformTest, ShortTransfersReportedAsSuccessByTheSystemAreFailures) {
  scratch.Write("data.bin", Bytes(5000, 3));
  const File file = Opened(scratch.Path("data.bin"));
  Bytes buffer(5000, 0);
  InjectFault(Service::ReadAt, 1, 0, FaultKind::ShortTransfer);
  EXPECT_EQ(ReadAt(file, 0, buffer.data(), 5000).code, SystemErrorCode(SystemErrorKind::EndOfFile));

  InjectFault(Service::WriteAt, 1, 0, FaultKind::ShortTransfer);
  EXPECT_EQ(WriteAt(file, 0, buffer.data(), 5000).code, SystemErrorCode(SystemErrorKind::DiskFull));
}

TEST_F(PlatformTest, ReadsLargerThanOneTransferArriveWhole) {
  // Past 1 GiB the POSIX backend needs more than one read; the tail must arrive too.
  const uint32_t size = (1u << 30) + 4097;
  scratch.Resize("large.bin", size);
  const File file = Opened(scratch.Path("large.bin"));
  Memory image;
  ASSERT_FALSE(CommitMemory(size, &image));
  image.bytes()[size - 1] = 0x55;
  EXPECT_FALSE(ReadAt(file, 0, image.bytes(), size));
  EXPECT_EQ(image.bytes()[size - 1], 0);
}

TEST_F(PlatformTest, InputFilesMustExistAndBeWritable) {
  File file;
  EXPECT_EQ(OpenInputFile(scratch.Path("missing.bin").c_str(), nullptr, &file).code,
            SystemErrorCode(SystemErrorKind::FileNotFound));
  EXPECT_TRUE(OpenInputFile(scratch.path().c_str(), nullptr, &file)) << "a folder is not a file";
  EXPECT_FALSE(file);

  if (RunningAsRoot()) GTEST_SKIP() << "root may write read-only files; scripts/test runs this as a normal user";
  scratch.Write("locked.bin", Bytes(10, 1));
  scratch.MakeReadOnly("locked.bin");
  EXPECT_EQ(OpenInputFile(scratch.Path("locked.bin").c_str(), nullptr, &file).code,
            SystemErrorCode(SystemErrorKind::AccessDenied));
}

TEST_F(PlatformTest, AnInjectedFaultHitsOnlyTheChosenCallWithTheChosenError) {
  scratch.Write("a.bin", Bytes(1, 1));
  scratch.Write("b.bin", Bytes(1, 2));
  const uint32_t error = SystemErrorCode(SystemErrorKind::SharingViolation);
  InjectFault(Service::OpenInputFile, 2, error);
  File first;
  File second;
  File third;
  EXPECT_FALSE(OpenInputFile(scratch.Path("a.bin").c_str(), nullptr, &first));
  EXPECT_EQ(OpenInputFile(scratch.Path("b.bin").c_str(), nullptr, &second).code, error);
  EXPECT_FALSE(OpenInputFile(scratch.Path("b.bin").c_str(), nullptr, &third));
  EXPECT_EQ(ServiceCallCount(Service::OpenInputFile), 3u);
  EXPECT_EQ(OpenFileCount(), 2u);
  third = File();
  first = File();
  EXPECT_EQ(ReleaseOrder(), "F2 F1");
}

}  // namespace

namespace {

TEST_F(PlatformTest, AFileHeldOpenForWritingCannotBeOpenedForWritingAgain) {
  // Windows refuses the second open through the share mode; the POSIX backend does the same,
  // so an output path that names an operation's own input is refused.
  const Bytes contents = RandomBytes(3, 5000);
  scratch.Write("held.bin", contents);
  File held = Opened(scratch.Path("held.bin"));
  File again;
  EXPECT_EQ(OpenInputFile(scratch.Path("held.bin").c_str(), nullptr, &again).code,
            SystemErrorCode(SystemErrorKind::SharingViolation));
  held = File();
  EXPECT_EQ(scratch.Read("held.bin"), contents);
  EXPECT_FALSE(OpenInputFile(scratch.Path("held.bin").c_str(), nullptr, &again)) << "closing gives the file back";
}

// Two names of one file, opened at once as the folder operations open them: readers beside
// readers and beside one writer, as Windows' share modes allow, but never two writers; and
// as many files held at once as a large folder's walk may hold.
TEST_F(PlatformTest, TwoNamesOfOneFileMayBeOpenAtOnceButNotForWritingTwice) {
  scratch.Write("one.bin", Bytes(5000, 4));
  std::filesystem::create_hard_link(scratch.Path("one.bin"), scratch.Path("two.bin"));
  FolderHandle folder;
  ASSERT_FALSE(OpenFolder(scratch.path().c_str(), nullptr, &folder));
  constexpr FileAccess kRead = FileAccess::ReadOnly;
  constexpr FileAccess kWrite = FileAccess::ReadWrite;
  const struct {
    FileAccess first;
    FileAccess second;
    bool opened;
  } cases[] = {{kRead, kRead, true}, {kRead, kWrite, true}, {kWrite, kRead, true}, {kWrite, kWrite, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.first) * 2 + static_cast<int>(c.second));
    File first;
    File second;
    ASSERT_FALSE(OpenFileIn(folder, "one.bin", c.first, &first));
    const SystemError failed = OpenFileIn(folder, "two.bin", c.second, &second);
    EXPECT_EQ(!failed, c.opened);
    if (!c.opened) {
      EXPECT_EQ(failed.code, SystemErrorCode(SystemErrorKind::SharingViolation));
      continue;
    }
    Bytes back(5000, 0);
    EXPECT_FALSE(ReadAt(second, 0, back.data(), 5000));
    EXPECT_EQ(back, Bytes(5000, 4));
  }
  // A file opened for writing is let go by its close, whichever name it was opened by.
  File writer;
  ASSERT_FALSE(OpenFileIn(folder, "two.bin", kWrite, &writer));
  writer = File();
  ASSERT_FALSE(OpenInputFile(scratch.Path("one.bin").c_str(), nullptr, &writer));

  std::vector<File> many(300);
  for (size_t i = 0; i < many.size(); ++i) {
    const std::string name = "many" + std::to_string(i);
    scratch.Write(name, Bytes(1, 1));
    ASSERT_FALSE(OpenFileIn(folder, name.c_str(), kWrite, &many[i])) << i;
  }
}

}  // namespace

namespace {

// ---- 64-bit files, lengths, and outputs that appear whole ----

TEST_F(PlatformTest, OffsetsPast4GiBReachTheirBytesInASparseFile) {
  constexpr uint64_t k4GiB = uint64_t{1} << 32;
  scratch.Resize("sparse.bin", k4GiB + 100);
  File file = Opened(scratch.Path("sparse.bin"));
  uint64_t size = 0;
  ASSERT_FALSE(GetFileSize64(file, &size));
  EXPECT_EQ(size, k4GiB + 100);

  // Written across the 4 GiB line and read back; the low 32 bits alone would land at 0.
  const Bytes pattern = RandomBytes(7, 40);
  EXPECT_FALSE(WriteAt(file, k4GiB - 20, pattern.data(), 40));
  Bytes back(40, 0);
  EXPECT_FALSE(ReadAt(file, k4GiB - 20, back.data(), 40));
  EXPECT_EQ(back, pattern);
  Bytes front(40, 0xAA);
  EXPECT_FALSE(ReadAt(file, 0, front.data(), 40));
  EXPECT_EQ(front, Bytes(40, 0)) << "nothing written at the wrapped offset";

  // Past the end: a read fails with end of file, a write grows the file.
  EXPECT_EQ(ReadAt(file, k4GiB + 90, back.data(), 20).code, SystemErrorCode(SystemErrorKind::EndOfFile));
  EXPECT_FALSE(WriteAt(file, k4GiB + 200, pattern.data(), 40));
  ASSERT_FALSE(GetFileSize64(file, &size));
  EXPECT_EQ(size, k4GiB + 240);
  EXPECT_FALSE(file.Close());
  EXPECT_EQ(scratch.Size("sparse.bin"), k4GiB + 240);
}

TEST_F(PlatformTest, SetFileLengthCutsAndExtendsWithZeros) {
  const Bytes contents = RandomBytes(8, 10000);
  scratch.Write("length.bin", contents);
  File file = Opened(scratch.Path("length.bin"));
  EXPECT_FALSE(SetFileLength(file, 5000));
  EXPECT_EQ(scratch.Size("length.bin"), 5000u);
  EXPECT_FALSE(SetFileLength(file, 7000));
  // A write from the start still lands there.
  ASSERT_FALSE(WriteAt(file, 0, contents.data(), 10));
  EXPECT_FALSE(FlushFile(file));
  EXPECT_FALSE(file.Close());
  EXPECT_EQ(scratch.Read("length.bin"), Concat({Part(contents, 0, 5000), Bytes(2000, 0)}));

  ClearFaults();
  InjectFault(Service::SetFileLength, 1, SystemErrorCode(SystemErrorKind::DiskFull));
  file = Opened(scratch.Path("length.bin"));
  EXPECT_EQ(SetFileLength(file, 10).code, SystemErrorCode(SystemErrorKind::DiskFull));
  EXPECT_FALSE(file.Close());
  EXPECT_EQ(scratch.Size("length.bin"), 7000u);
}

TEST_F(PlatformTest, ATemporaryOutputReplacesTheOlderFileOnlyAtTheRename) {
  const Bytes older = RandomBytes(9, 3000);
  const Bytes newer = RandomBytes(10, 5000);
  scratch.Write("out.fix", older);
  scratch.Write("source.bin", older);
  File source = Opened(scratch.Path("source.bin"));
  const std::string finalPath = scratch.Path("out.fix");
  char temporaryPath[600] = "";
  File file;
  ASSERT_FALSE(CreateTemporaryFile(finalPath.c_str(), &source, temporaryPath, sizeof temporaryPath, &file));
  ASSERT_FALSE(WriteAt(file, 0, newer.data(), 5000));
  ASSERT_FALSE(FlushFile(file));
  // Its name, once it is complete: until then a run that died would leave nothing.
  ASSERT_FALSE(NameTemporaryFile(&file, temporaryPath, sizeof temporaryPath));
  EXPECT_TRUE(TemporaryHasName(file));
  const std::string temporary = temporaryPath;
  EXPECT_EQ(temporary.rfind(scratch.path() + kPathSeparator, 0), 0u) << "beside the final file: " << temporary;
  EXPECT_NE(temporary, finalPath);
  ASSERT_FALSE(file.Close());
  EXPECT_EQ(scratch.Read("out.fix"), older) << "written whole, not yet renamed";

  ASSERT_FALSE(ReplaceWithFile(temporary.c_str(), finalPath.c_str()));
  EXPECT_EQ(scratch.Read("out.fix"), newer);
  EXPECT_FALSE(std::filesystem::exists(temporary));

  // An abandoned output goes, by itself where it has no name yet, and the file it would have
  // replaced stays.
  ASSERT_FALSE(CreateTemporaryFile(finalPath.c_str(), &source, temporaryPath, sizeof temporaryPath, &file));
  EXPECT_NE(std::string(temporaryPath), temporary) << "a fresh name each time";
  const bool named = TemporaryHasName(file);
  ASSERT_FALSE(WriteAt(file, 0, older.data(), 10));
  ASSERT_FALSE(file.Close());
  if (named) {
    EXPECT_FALSE(RemoveFile(temporaryPath));
  }
  EXPECT_FALSE(std::filesystem::exists(temporaryPath));
  EXPECT_EQ(scratch.Read("out.fix"), newer);

  // A name that does not fit the caller's buffer is refused before anything is made.
  char small[8];
  EXPECT_EQ(CreateTemporaryFile(finalPath.c_str(), &source, small, sizeof small, &file).code,
            SystemErrorCode(SystemErrorKind::NameTooLong));
  EXPECT_FALSE(file);
  EXPECT_FALSE(source.Close());
}

// ---- Durable writes: a failing flush and a failing close ----

TEST_F(PlatformTest, AFailedFlushOrCloseIsReportedAndTheCloseStillReleasesTheFile) {
  scratch.Write("durable.bin", Bytes(100, 1));
  File file = Opened(scratch.Path("durable.bin"));
  ASSERT_FALSE(WriteAt(file, 0, Bytes(50, 2).data(), 50));
  InjectFault(Service::FlushFile, 1, SystemErrorCode(SystemErrorKind::DiskFull));
  EXPECT_EQ(FlushFile(file).code, SystemErrorCode(SystemErrorKind::DiskFull));
  EXPECT_FALSE(FlushFile(file)) << "only the armed call fails";

  InjectFault(Service::CloseFile, 1, SystemErrorCode(SystemErrorKind::AccessDenied));
  EXPECT_EQ(file.Close().code, SystemErrorCode(SystemErrorKind::AccessDenied));
  EXPECT_EQ(OpenFileCount(), 0u);
  // Really closed: the file opens again, which a held file would not.
  File again = Opened(scratch.Path("durable.bin"));
  EXPECT_FALSE(again.Close());
  EXPECT_EQ(scratch.Read("durable.bin"), Concat({Bytes(50, 2), Bytes(50, 1)}));
}

// ---- Regular files only ----

struct RefusedPath {
  std::string name;
  std::string path;
  SystemErrorKind error;
};

void ExpectRefused(const RefusedPath& c) {
  SCOPED_TRACE(c.name);
  File file;
  EXPECT_EQ(OpenInputFile(c.path.c_str(), nullptr, &file).code, SystemErrorCode(c.error));
  EXPECT_FALSE(file);
  EXPECT_EQ(OpenFileCount(), 0u);
}

TEST_F(PlatformTest, AFolderIsRefusedAsAFolder) {
  const std::string folder = scratch.MakeFolder("folder");
  scratch.Write("folder" + std::string(1, kPathSeparator) + "inside.bin", Bytes(10, 1));
  ExpectRefused({"folder", folder, SystemErrorKind::IsFolder});
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
  for (const RefusedPath& c : cases) ExpectRefused(c);
  EXPECT_EQ(ServiceCallCount(Service::OpenInputFile), 7u);
  // Names that only begin like a device are files like any other.
  for (const char* name : {"CONSOLE.bin", "nul1.bin", "com10.bin"}) {
    scratch.Write(name, Bytes(1, 1));
    File file;
    EXPECT_FALSE(OpenInputFile(scratch.Path(name).c_str(), nullptr, &file)) << name;
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
  for (const RefusedPath& c : cases) ExpectRefused(c);

  // A socket cannot be opened at all; the system says so in its own words.
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = scratch.Path("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  File file;
  EXPECT_TRUE(OpenInputFile(socketPath.c_str(), nullptr, &file));
  EXPECT_FALSE(file);
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
  File file;
  EXPECT_TRUE(OpenInputFile(pipe.c_str(), nullptr, &file));
  EXPECT_FALSE(file);
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
  Memory region;
  ASSERT_FALSE(CommitMemory(kSize, &region));
  for (uint32_t i = 0; i < kSize; i += 4093) region.bytes()[i] = 1;
  EXPECT_EQ(FreeHugePages(), before);
}
#endif

}  // namespace
