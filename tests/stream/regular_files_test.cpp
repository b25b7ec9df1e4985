// Each operation takes regular files only: a pipe, a device or a folder in the place of an
// input or of the output is refused at that file's open, with the system's reason, before
// anything is read or written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "stream/operations.h"
#include "tests/testing/engine_test.h"
#include "tests/testing/reference.h"

namespace {

constexpr uint32_t kBlock = 4096;

enum class Operation { ScanBroken, ScanValid, Repair };
enum class Role { Input, Output };
enum class Odd { Pipe, NullDevice, Folder, DeviceName };

struct OddCase {
  const char* name;
  Operation operation;
  const char* at;  // which file of the exchange it takes the place of
  Role role;
  Odd odd;
  Step stop;
  SystemErrorKind error;
};

// The exchange in two folders: the broken side b with its test file, the valid side v with
// its repair file. Every file is regular unless a case replaces one.
class RegularFilesTest : public EngineTest, public ::testing::WithParamInterface<OddCase> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    scratch.MakeFolder("b");
    scratch.MakeFolder("v");
    Bytes broken = valid_;
    broken[kBlock + 1] ^= 0x11;
    files_ = {{"b/movie.avi", broken},
              {"b/movie.crc", ReferenceTestFile(broken)},
              {"v/movie.avi", valid_},
              {"v/movie.fix", ReferenceRepairFile(valid_, ReferenceTestFile(broken))}};
    for (const auto& [name, contents] : files_) scratch.Write(Native(name), contents);
  }

  std::string Native(std::string name) const {
    for (char& c : name) {
      if (c == '/') c = kPathSeparator;
    }
    return name;
  }
  std::string PathOf(const std::string& name) const { return scratch.Path(Native(name)); }

  // Puts the odd thing in place of the named file; returns the path the operation is given.
  std::string Replace(const std::string& name, Odd odd, [[maybe_unused]] Role role) {
    const std::string path = PathOf(name);
    std::remove(path.c_str());
    switch (odd) {
      case Odd::Folder: scratch.MakeFolder(Native(name)); return path;
#ifdef _WIN32
      case Odd::DeviceName: return "CON";
      case Odd::NullDevice: return PathOf(name.substr(0, name.find('/') + 1) + "NUL.avi");
      case Odd::Pipe: break;
#else
      case Odd::Pipe: EXPECT_EQ(mkfifo(path.c_str(), 0600), 0); return path;
      case Odd::NullDevice:
        // An output is named after its input, so it can only meet a device through a link.
        if (role == Role::Input) return "/dev/null";
        EXPECT_EQ(symlink("/dev/null", path.c_str()), 0);
        return path;
      case Odd::DeviceName: break;
#endif
    }
    ADD_FAILURE() << "no such case on this system";
    return path;
  }

  int Run(Operation operation, const std::string& replaced, const std::string& givenPath) {
    const auto given = [&](const std::string& name) { return name == replaced ? givenPath : PathOf(name); };
    switch (operation) {
      case Operation::ScanBroken:
        return Finished(Took(StreamScanBrokenFile(given("b/movie.avi").c_str(), scratch.Path("b").c_str(), {})));
      case Operation::ScanValid:
        return Finished(Took(StreamScanValidFile(given("v/movie.avi").c_str(), given("b/movie.crc").c_str(),
                                                 scratch.Path("v").c_str(), {})));
      case Operation::Repair:
        return Finished(Took(StreamRepairBrokenFile(given("b/movie.avi").c_str(), given("v/movie.fix").c_str(), {}, {})));
    }
    return -1;
  }

  const Bytes valid_ = RandomBytes(5, 3 * kBlock + 10);
  std::vector<std::pair<std::string, Bytes>> files_;
};

TEST_P(RegularFilesTest, IsRefusedAtItsOpenAndNothingIsReadOrWritten) {
  const OddCase& c = GetParam();
  const std::string given = Replace(c.at, c.odd, c.role);

  EXPECT_EQ(Run(c.operation, c.at, given), 0);
  ExpectStop(c.stop, c.error);
  EXPECT_EQ(ServiceCallCount(Service::WriteAt), 0u);
  EXPECT_EQ(ServiceCallCount(Service::SetFileLength), 0u);
  if (c.role == Role::Input) {
    EXPECT_EQ(ServiceCallCount(Service::ReadAt), 0u);
  }
  for (const auto& [name, contents] : files_) {
    if (name != c.at) {
      EXPECT_EQ(ReadWholeFile(PathOf(name)), contents) << name;
    }
  }
#ifndef _WIN32
  struct stat info;
  if (c.odd == Odd::Pipe) {
    ASSERT_EQ(stat(PathOf(c.at).c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "still the pipe it was";
  }
#endif
}

using K = SystemErrorKind;
const OddCase kCases[] = {
    {"BrokenScanFolderAsBrokenFile", Operation::ScanBroken, "b/movie.avi", Role::Input, Odd::Folder, Step::OpenBroken, K::IsFolder},
    {"BrokenScanFolderAsTestFile", Operation::ScanBroken, "b/movie.crc", Role::Output, Odd::Folder, Step::CreateOutput, K::IsFolder},
    {"ValidScanFolderAsValidFile", Operation::ScanValid, "v/movie.avi", Role::Input, Odd::Folder, Step::OpenValid, K::IsFolder},
    {"ValidScanFolderAsTestFile", Operation::ScanValid, "b/movie.crc", Role::Input, Odd::Folder, Step::OpenTest, K::IsFolder},
    {"ValidScanFolderAsRepairFile", Operation::ScanValid, "v/movie.fix", Role::Output, Odd::Folder, Step::CreateOutput, K::IsFolder},
    {"RepairFolderAsBrokenFile", Operation::Repair, "b/movie.avi", Role::Input, Odd::Folder, Step::OpenBroken, K::IsFolder},
    {"RepairFolderAsRepairFile", Operation::Repair, "v/movie.fix", Role::Input, Odd::Folder, Step::OpenRepair, K::IsFolder},
#ifdef _WIN32
    {"BrokenScanConsole", Operation::ScanBroken, "b/movie.avi", Role::Input, Odd::DeviceName, Step::OpenBroken, K::NotRegularFile},
    {"BrokenScanNulWithExtension", Operation::ScanBroken, "b/movie.avi", Role::Input, Odd::NullDevice, Step::OpenBroken, K::NotRegularFile},
    {"ValidScanConsoleAsValidFile", Operation::ScanValid, "v/movie.avi", Role::Input, Odd::DeviceName, Step::OpenValid, K::NotRegularFile},
    {"ValidScanNulAsTestFile", Operation::ScanValid, "b/movie.crc", Role::Input, Odd::NullDevice, Step::OpenTest, K::NotRegularFile},
    {"RepairConsoleAsBrokenFile", Operation::Repair, "b/movie.avi", Role::Input, Odd::DeviceName, Step::OpenBroken, K::NotRegularFile},
    {"RepairNulAsRepairFile", Operation::Repair, "v/movie.fix", Role::Input, Odd::NullDevice, Step::OpenRepair, K::NotRegularFile},
#else
    {"BrokenScanPipeAsBrokenFile", Operation::ScanBroken, "b/movie.avi", Role::Input, Odd::Pipe, Step::OpenBroken, K::NotRegularFile},
    {"BrokenScanNullAsBrokenFile", Operation::ScanBroken, "b/movie.avi", Role::Input, Odd::NullDevice, Step::OpenBroken, K::NotRegularFile},
    {"BrokenScanPipeAsTestFile", Operation::ScanBroken, "b/movie.crc", Role::Output, Odd::Pipe, Step::CreateOutput, K::NotRegularFile},
    {"BrokenScanNullAsTestFile", Operation::ScanBroken, "b/movie.crc", Role::Output, Odd::NullDevice, Step::CreateOutput, K::NotRegularFile},
    {"ValidScanPipeAsValidFile", Operation::ScanValid, "v/movie.avi", Role::Input, Odd::Pipe, Step::OpenValid, K::NotRegularFile},
    {"ValidScanNullAsTestFile", Operation::ScanValid, "b/movie.crc", Role::Input, Odd::NullDevice, Step::OpenTest, K::NotRegularFile},
    {"ValidScanPipeAsTestFile", Operation::ScanValid, "b/movie.crc", Role::Input, Odd::Pipe, Step::OpenTest, K::NotRegularFile},
    {"ValidScanPipeAsRepairFile", Operation::ScanValid, "v/movie.fix", Role::Output, Odd::Pipe, Step::CreateOutput, K::NotRegularFile},
    {"ValidScanNullAsRepairFile", Operation::ScanValid, "v/movie.fix", Role::Output, Odd::NullDevice, Step::CreateOutput, K::NotRegularFile},
    {"RepairPipeAsBrokenFile", Operation::Repair, "b/movie.avi", Role::Input, Odd::Pipe, Step::OpenBroken, K::NotRegularFile},
    {"RepairNullAsBrokenFile", Operation::Repair, "b/movie.avi", Role::Input, Odd::NullDevice, Step::OpenBroken, K::NotRegularFile},
    {"RepairPipeAsRepairFile", Operation::Repair, "v/movie.fix", Role::Input, Odd::Pipe, Step::OpenRepair, K::NotRegularFile},
    {"RepairNullAsRepairFile", Operation::Repair, "v/movie.fix", Role::Input, Odd::NullDevice, Step::OpenRepair, K::NotRegularFile},
#endif
};

INSTANTIATE_TEST_SUITE_P(Odd, RegularFilesTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OddCase>& info) { return std::string(info.param.name); });

}  // namespace
