// What Windows does to files that Linux does not: another program holds a file for a moment
// (read once free) or until it is stopped (a stop ends the wait), a new file's rename is held
// up (kept whole and renamed by the next run, not written again), and entries kept by a filter
// stand in for the cloud files and other reparse points Wine cannot make.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <chrono>
#include <thread>

#include "core/reparse_points.h"
#include "tests/testing/held_file.h"
#include "tests/tree/tree_test.h"

namespace {

using Clock = std::chrono::steady_clock;

class HeldFilesTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    broken = {{"a.bin", Noise(1, 9000)}, {"held.bin", Noise(2, 5000)}};
    MakeTree(Broken(), broken);
  }
  std::string HeldPath() const { return Broken() + "\\held.bin"; }
  TreeContents broken;
};

TEST_F(HeldFilesTest, AFileHeldForAMomentIsReadOnceFree) {
  const HeldFile holder(HeldPath(), 1500);
  const TreeOutcome result = ScanBroken();
  EXPECT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
  EXPECT_FALSE(AnySkipped(result));
  EXPECT_EQ(result.files, 2u);
}

TEST_F(HeldFilesTest, AStopEndsTheWaitForAHeldFile) {
  const HeldFile holder(HeldPath(), 60000);
  ProgressRecord record;
  std::thread stopper([&record] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    record.stop = true;
  });
  const Clock::time_point start = Clock::now();
  const TreeOutcome result = ScanBroken(ControlFor(&record));
  const auto waited = Clock::now() - start;
  stopper.join();
  EXPECT_EQ(result.outcome.ending, Ending::Cancelled) << result.outcome;
  // The entry alone would have waited 10 s.
  EXPECT_LT(waited, std::chrono::seconds(8));
  EXPECT_FALSE(outputs.Exists("tree.crc"));
}

// Held for the moment of one try (the fault, which the next try does not meet): waited out,
// in all three operations' opens, reads, renames and removals.
TEST_F(HeldFilesTest, AFileHeldForOneTryIsWaitedOut) {
  MakeTree(Valid(), {{"a.bin", Noise(1, 9000)}, {"held.bin", Noise(3, 5000)}, {"new.bin", Noise(4, 7000)}});
  const uint32_t held = SystemErrorCode(SystemErrorKind::SharingViolation);
  const uint32_t locked = SystemErrorCode(SystemErrorKind::LockViolation);
  const struct {
    Service service;
    uint32_t error;
    int operation;  // 0 broken scan, 1 valid scan, 2 repair
  } cases[] = {{Service::OpenFileIn, held, 0},   {Service::ReadAt, locked, 0},      {Service::OpenFileIn, held, 1},
               {Service::OpenInputFile, held, 1}, {Service::ReadAt, locked, 1},     {Service::RenameIn, held, 2},
               {Service::RemoveFileIn, held, 2}, {Service::OpenInputFile, held, 2}};
  TreeContents start = broken;
  start["extra.txt"] = "x";
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.service));
    RemoveTree(Broken());
    MakeTree(Broken(), start);
    ClearFaults();
    if (c.operation == 0) InjectFault(c.service, 1, c.error);
    TreeOutcome result = ScanBroken();
    ASSERT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
    if (c.operation == 1) InjectFault(c.service, 1, c.error);
    result = ScanValid();
    ASSERT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
    if (c.operation == 2) InjectFault(c.service, 1, c.error);
    result = Repair(true);
    EXPECT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
    EXPECT_FALSE(AnySkipped(result));
    EXPECT_GE(ServiceCallCount(c.service), 2u) << "not tried again";
    EXPECT_EQ(TreeDifference(ReadTree(Broken()), ReadTree(Valid())), "");
  }
}

// The new file's rename meets a hold until the run is stopped: the file stays whole under its
// temporary name, and the next run renames it without creating or writing anything.
// The wait goes with the handle: a read on another thread than the one that opened the file
// waits out a lock held for one try, by the waits the file keeps; a file opened without
// waits fails at once.
TEST_F(HeldFilesTest, AReadOnAnyThreadWaitsByTheWaitsItsFileKeeps) {
  HeldFileWaits waits(nullptr);
  const uint32_t locked = SystemErrorCode(SystemErrorKind::LockViolation);
  for (HeldFileWaits* kept : {&waits, static_cast<HeldFileWaits*>(nullptr)}) {
    SCOPED_TRACE(kept != nullptr ? "with waits" : "without");
    File file;
    ASSERT_FALSE(OpenInputFile(HeldPath().c_str(), kept, &file));
    ClearFaults();
    InjectFault(Service::ReadAt, 1, locked);
    uint8_t bytes[16];
    SystemError read;
    std::thread reader([&] { read = ReadAt(file, 0, bytes, sizeof bytes); });
    reader.join();
    EXPECT_EQ(read.code, kept != nullptr ? 0u : locked);
    EXPECT_EQ(ServiceCallCount(Service::ReadAt), kept != nullptr ? 2u : 1u);
  }
}

TEST_F(HeldFilesTest, ANewFileWhoseRenameIsHeldIsKeptForTheNextRun) {
  const std::string added = Noise(5, 3 * 4096 + 7);
  TreeContents valid = broken;
  valid["new.bin"] = added;
  MakeTree(Valid(), valid);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  ProgressRecord record;
  record.stopAt = added.size();
  InjectFault(Service::RenameIn, 1, SystemErrorCode(SystemErrorKind::SharingViolation));
  const TreeOutcome first = Repair(false, ControlFor(&record));
  EXPECT_EQ(first.outcome.ending, Ending::Cancelled) << first.outcome;
  const auto skipped = EntriesWith(first, EntryEvent::Skipped);
  ASSERT_EQ(skipped.count("new.bin"), 1u);
  const std::string kept = skipped.at("new.bin").kept;
  EXPECT_EQ(skipped.at("new.bin").systemError, SystemErrorCode(SystemErrorKind::SharingViolation));
  EXPECT_TRUE(ReadTree(Broken())[kept] == added) << kept;
  // Beside it, the leftover of a run that died, which the next run's sweep removes; the kept
  // file has the size of the file to make and is spared.
  MakeTree(Broken(), {{".varnell-abcdefghijkl.tmp", added.substr(0, 4096)}});

  ClearFaults();
  const TreeOutcome second = Repair();
  EXPECT_EQ(second.outcome.ending, Ending::Done) << second.outcome;
  EXPECT_EQ(EntriesWith(second, EntryEvent::Created).count("new.bin"), 1u);
  EXPECT_EQ(ServiceCallCount(Service::CreateTemporaryIn), 0u);
  EXPECT_EQ(ServiceCallCount(Service::WriteAt), 0u);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

// Cloud files and other reparse points, stood in for on a plain file: a cloud file is opened
// again through its filter, read and counted as fetched; a fetch that fails skips the file
// alone; kinds that are no file are skipped as today.
TEST_F(HeldFilesTest, EntriesKeptByAFilterAreReadAndOthersSkipped) {
  const struct {
    const char* what;
    uint32_t tag;
    uint32_t attributes;
    uint32_t readError;  // the fetch fails with it
    EntrySkip skip;      // None: read
    uint64_t fetched;
  } cases[] = {
      {"a cloud file", 0x9000001A, kAttributeRecallOnDataAccess, 0, EntrySkip::None, 1},
      {"a cloud file of a provider", 0x9000301A, kAttributeRecallOnDataAccess | kAttributeOffline, 0, EntrySkip::None, 1},
      {"a compressed file", 0x80000017, 0, 0, EntrySkip::None, 0},
      {"a cloud file whose fetch fails", 0x9000001A, kAttributeRecallOnDataAccess, 362, EntrySkip::Unreadable, 0},
      {"a socket", 0x80000023, 0, 0, EntrySkip::NotRegular, 0},
      {"an app's alias", 0x8000001B, 0, 0, EntrySkip::Link, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ClearFaults();
    StandInReparsePoint("held.bin", c.tag, c.attributes);
    if (c.readError != 0) InjectFault(Service::ReadAt, 2, c.readError);
    const TreeOutcome result = ScanBroken();
    ASSERT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
    EXPECT_EQ(result.fetched, c.fetched);
    const auto skipped = EntriesWith(result, EntryEvent::Skipped);
    EXPECT_EQ(skipped.size(), c.skip == EntrySkip::None ? 0u : 1u);
    if (c.skip != EntrySkip::None) {
      ASSERT_EQ(skipped.count("held.bin"), 1u);
      EXPECT_EQ(skipped.at("held.bin").skip, c.skip);
      if (c.readError != 0) {
        EXPECT_EQ(skipped.at("held.bin").systemError, c.readError);
      }
    }
    EXPECT_EQ(result.files, c.skip == EntrySkip::None ? 2u : 1u);
  }
}

}  // namespace
#endif
