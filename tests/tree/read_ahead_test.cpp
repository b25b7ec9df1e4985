// The folder scans with many files read side by side: the outputs byte for byte those of one
// file read after another, a fault met by one of many readers, a stop while many reads are in
// flight, and the readers' own failures (their memory, their threads).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "tests/tree/tree_test.h"
#include "tree/listing_warmer.h"
#include "tree/read_ahead.h"

namespace {

// Sizes around the block and the readers' limit; the larger ones are read by the scan itself.
constexpr uint32_t kSizes[] = {0, 1, 4095, 4096, 4097, 12000, kReadAheadFileBytes - 1, kReadAheadFileBytes,
                               kReadAheadFileBytes + 1, 1536, 3 * 4096 + 7, 300000};

class ReadAheadTest : public TreeTest {
 protected:
  // Folders of files of every size above (or small ones only, with no folder below a folder),
  // more files than the readers have buffers.
  static TreeContents ManyFiles(bool smallOnly) {
    TreeContents tree;
    uint32_t seed = 100;
    for (int folder = 0; folder < 6; ++folder) {
      const std::string name = std::string("d") += std::to_string(folder);
      tree[name] = kFolderMark;
      if (!smallOnly) tree[name + "/deeper"] = kFolderMark;
      for (int file = 0; file < 12; ++file) {
        const uint32_t size = smallOnly ? 1500 + 700 * file : kSizes[file];
        const std::string path = name + (file % 3 == 0 && !smallOnly ? "/deeper/f" : "/f") + std::to_string(file) + ".bin";
        tree[path] = Noise(seed++, size);
      }
    }
    return tree;
  }

  Bytes Scanned(const std::string& name) { return outputs.Read(name); }

  // Whether the scan ran with readers beside it: seen by its progress.
  static void CountThreads(void* context, uint64_t, uint64_t) {
    uint32_t& most = *static_cast<uint32_t*>(context);
    if (RunningThreadCount() > most) most = RunningThreadCount();
  }
};

// The whole exchange with the files read side by side gives the outputs of one file after
// another, and repairs the tree.
TEST_F(ReadAheadTest, OutputsAreThoseOfOneFileAfterAnother) {
  const TreeContents valid = ManyFiles(false);
  TreeContents broken = valid;
  broken["d1/deeper/f6.bin"][4100] ^= 0x20;
  broken["d3/f5.bin"][1] ^= 0x01;
  broken["d5/f11.bin"][290000] ^= 0x80;
  broken.erase("d2/f7.bin");
  MakeTree(Valid(), valid);
  MakeTree(Broken(), broken);

  StreamControl alone;
  alone.oneThread = true;
  ASSERT_EQ(ScanBroken(alone).outcome.ending, Ending::Done);
  const Bytes testFile = Scanned("tree.crc");
  ASSERT_EQ(ScanValid(alone).outcome.ending, Ending::Done);
  const Bytes repairFile = Scanned("tree.fix");

  uint32_t mostThreads = 0;
  StreamControl sideBySide;
  sideBySide.progress = &CountThreads;
  sideBySide.context = &mostThreads;
  const TreeOutcome scanned = ScanBroken(sideBySide);
  ASSERT_EQ(scanned.outcome.ending, Ending::Done);
  EXPECT_GT(mostThreads, 1u) << "no readers beside the scan";
  EXPECT_TRUE(Scanned("tree.crc") == testFile);
  mostThreads = 0;
  const TreeOutcome answered = ScanValid(sideBySide);
  ASSERT_EQ(answered.outcome.ending, Ending::Done);
  EXPECT_GT(mostThreads, 1u) << "no readers beside the scan";
  EXPECT_TRUE(Scanned("tree.fix") == repairFile);
  EXPECT_EQ(EntriesWith(answered, EntryEvent::Damaged).size(), 3u);
  EXPECT_EQ(EntriesWith(answered, EntryEvent::Missing).size(), 1u);

  ASSERT_EQ(Repair().outcome.ending, Ending::Done);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

// One of many readers meets a fault: the file it concerns is skipped with the step and the
// error, and the output is the one of the same fault met with one file after another.
struct ReaderFault {
  const char* name;
  bool validScan;
  Service service;
  uint32_t nthCall;
  Step step;
};

std::ostream& operator<<(std::ostream& out, const ReaderFault& c) { return out << c.name; }

class ReaderFaultTest : public ReadAheadTest, public ::testing::WithParamInterface<ReaderFault> {
 protected:
  TreeOutcome Run() { return GetParam().validScan ? ScanValid() : ScanBroken(); }
  std::string Output() const { return GetParam().validScan ? "tree.fix" : "tree.crc"; }
};

TEST_P(ReaderFaultTest, SkipsTheFileItConcernsAsOneReaderWould) {
  const ReaderFault& c = GetParam();
  // Small files only, each opened once and read in one call, so that the nth call is the nth
  // file in the scan's order when the files are read one after another.
  const TreeContents valid = ManyFiles(true);
  TreeContents broken = valid;
  for (auto& [path, contents] : broken) {
    if (contents != kFolderMark) contents[0] ^= 0x40;
  }
  MakeTree(Valid(), valid);
  MakeTree(Broken(), broken);
  if (c.validScan) {
    ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  }

  ClearFaults();  // calls are counted from here
  ReadSideBySideUnderFaults(kReadAheadReaders);
  InjectFault(c.service, c.nthCall, SystemErrorCode(SystemErrorKind::AccessDenied));
  uint32_t mostThreads = 0;
  StreamControl counting;
  counting.progress = &CountThreads;
  counting.context = &mostThreads;
  const TreeOutcome sideBySide = c.validScan ? ScanValid(counting) : ScanBroken(counting);
  ClearFaults();
  EXPECT_GT(mostThreads, 1u) << "no readers beside the scan";
  ASSERT_EQ(sideBySide.outcome.ending, Ending::Done) << sideBySide.outcome;
  const auto skipped = EntriesWith(sideBySide, EntryEvent::Skipped);
  ASSERT_EQ(skipped.size(), 1u);
  const EntryReport& report = skipped.begin()->second;
  EXPECT_EQ(report.skip, EntrySkip::Unreadable);
  EXPECT_EQ(report.step, c.step);
  EXPECT_EQ(report.systemError, SystemErrorCode(SystemErrorKind::AccessDenied));
  const Bytes output = Scanned(Output());

  // The same file made to fail with the files read one after another: its place among them
  // (the small trees have no folder below a folder, so both scans read them in the order of
  // their paths), behind the scan's own calls before its first file (each file makes one).
  uint32_t place = 0;
  uint32_t files = 0;
  for (const auto& [path, contents] : valid) {
    if (contents == kFolderMark) continue;
    ++files;
    if (path == report.path) place = files;
  }
  ASSERT_NE(place, 0u) << report.path;
  ClearFaults();
  StreamControl oneThread;
  oneThread.oneThread = true;
  ASSERT_EQ((c.validScan ? ScanValid(oneThread) : ScanBroken(oneThread)).outcome.ending, Ending::Done);
  place += ServiceCallCount(c.service) - files;
  ClearFaults();
  InjectFault(c.service, place, SystemErrorCode(SystemErrorKind::AccessDenied));
  const TreeOutcome alone = Run();
  ClearFaults();
  ASSERT_EQ(alone.outcome.ending, Ending::Done) << alone.outcome;
  ASSERT_EQ(EntriesWith(alone, EntryEvent::Skipped).count(report.path), 1u) << report.path;
  EXPECT_TRUE(Scanned(Output()) == output);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), broken), "");
}

INSTANTIATE_TEST_SUITE_P(
    Readers, ReaderFaultTest,
    ::testing::Values(ReaderFault{"BrokenRead", false, Service::ReadAt, 40, Step::ReadBroken},
                      ReaderFault{"BrokenOpen", false, Service::OpenFileIn, 25, Step::OpenBroken},
                      ReaderFault{"BrokenSize", false, Service::GetFileSize64, 60, Step::SizeBroken},
                      ReaderFault{"ValidOpen", true, Service::OpenFileIn, 33, Step::OpenValid},
                      ReaderFault{"ValidSize", true, Service::GetFileSize64, 50, Step::SizeValid}),
    [](const ::testing::TestParamInfo<ReaderFault>& info) { return std::string(info.param.name); });

// A stop asked for while many files are in flight: cancelled, nothing written, every reader
// ended and every file and buffer given back (the fixture's ledger).
TEST_F(ReadAheadTest, StopWhileManyReadsAreInFlight) {
  const TreeContents tree = ManyFiles(true);
  MakeTree(Broken(), tree);
  MakeTree(Valid(), tree);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  outputs.Write("tree.fix", {'o', 'l', 'd'});
  for (const bool validScan : {false, true}) {
    struct Stopper {
      std::atomic<bool> stop{false};
      uint32_t calls = 0;
    } stopper;
    StreamControl control;
    control.stop = &stopper.stop;
    control.context = &stopper;
    control.progress = [](void* context, uint64_t, uint64_t) {
      auto& s = *static_cast<Stopper*>(context);
      if (++s.calls == 20) s.stop = true;
    };
    const Bytes before = outputs.Read("tree.crc");
    const TreeOutcome result = validScan ? ScanValid(control) : ScanBroken(control);
    EXPECT_EQ(result.outcome.ending, Ending::Cancelled) << result.outcome;
    EXPECT_EQ(stopper.calls, 20u) << "the scan went on after the stop";
    EXPECT_EQ(RunningThreadCount(), 0u);
    EXPECT_EQ(OpenFileCount(), 0u);
    EXPECT_TRUE(outputs.Read("tree.crc") == before);
    EXPECT_TRUE(outputs.Read("tree.fix") == Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(outputs.Names(), (std::vector<std::string>{"tree.crc", "tree.fix"}));
  }
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), tree), "");
}

// The readers' own calls made to fail: their buffers stop the scan at its memory step, and the
// write of the records they gathered at the output, with the output untouched; a reader or a
// listing's helper that cannot be started leaves the work to the others, or to the scan itself,
// with the same output.
struct PoolFault {
  const char* name;
  bool validScan;
  Service service;
  uint32_t nthCall;
  bool stops;  // at step; otherwise it carries on
  Step step;
};

std::ostream& operator<<(std::ostream& out, const PoolFault& c) { return out << c.name; }

class ReadAheadPoolFaultTest : public ReadAheadTest, public ::testing::WithParamInterface<PoolFault> {};

TEST_P(ReadAheadPoolFaultTest, StopsAtMemoryOrCarriesOnWithFewerReaders) {
  const PoolFault& c = GetParam();
  const TreeContents valid = ManyFiles(true);
  TreeContents broken = valid;
  broken["d4/f5.bin"][100] ^= 0x02;
  MakeTree(Valid(), valid);
  MakeTree(Broken(), broken);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  const std::string name = c.validScan ? "tree.fix" : "tree.crc";
  const Bytes expected = outputs.Read(name);

  ClearFaults();  // calls are counted from here
  ReadSideBySideUnderFaults(kReadAheadReaders);
  InjectFault(c.service, c.nthCall, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  const TreeOutcome result = c.validScan ? ScanValid() : ScanBroken();
  ClearFaults();
  if (c.stops) {
    EXPECT_EQ(result.outcome.ending, Ending::Stopped) << result.outcome;
    EXPECT_EQ(result.outcome.step, c.step) << result.outcome;
    EXPECT_EQ(result.outcome.systemError, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  } else {
    EXPECT_EQ(result.outcome.ending, Ending::Done) << result.outcome;
  }
  EXPECT_TRUE(outputs.Read(name) == expected);
  EXPECT_EQ(outputs.Names(), (std::vector<std::string>{"tree.crc", "tree.fix"}));
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), broken), "");
}

// Memory in order: (the test file's buffer,) the ring's four slices, the record's buffer, the
// region hashes, then the readers' buffers. The records of the files read ahead are written
// together, after the header: the second write. The listing's helpers start before the readers.
INSTANTIATE_TEST_SUITE_P(
    Pool, ReadAheadPoolFaultTest,
    ::testing::Values(PoolFault{"BrokenFirstBuffer", false, Service::CommitMemory, 7, true, Step::AllocateBroken},
                      PoolFault{"BrokenLastBuffer", false, Service::CommitMemory, 6 + kReadAheadSlots, true, Step::AllocateBroken},
                      PoolFault{"ValidBuffer", true, Service::CommitMemory, 8, true, Step::AllocateValid},
                      PoolFault{"GatheredRecords", false, Service::WriteAt, 2, true, Step::WriteOutput},
                      PoolFault{"NoListingHelper", true, Service::StartThread, 1, false, Step::OpenBroken},
                      PoolFault{"NoReader", false, Service::StartThread, kListingHelpers + 1, false, Step::OpenBroken},
                      PoolFault{"OneReaderFewer", true, Service::StartThread, kListingHelpers + 5, false, Step::OpenBroken}),
    [](const ::testing::TestParamInfo<PoolFault>& info) { return std::string(info.param.name); });

}  // namespace
