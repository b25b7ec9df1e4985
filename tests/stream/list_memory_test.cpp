// The damaged-block list is the one memory of the streaming operations that grows with the
// damage, and it comes from the C++ heap, not from the platform layer. This program replaces
// the global operator new so that a test can refuse large requests, or one request in turn,
// and checks that a list that cannot grow stops the operation with its message, nothing held
// and nothing written; and that a folder repair stops at the step of what it was getting.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/stream/stream_test.h"
#include "tests/tree/tree_test.h"
#include "tests/testing/reference.h"

namespace {

// Requests of at least this many bytes fail while it is not 0 (set from any thread).
std::atomic<size_t> refuseFrom = 0;
// While it is not 0, the request of this number, counted in requests.
size_t refuseNth = 0;
size_t requests = 0;

}  // namespace

void* operator new(size_t size) {
  if (refuseFrom != 0 && size >= refuseFrom) throw std::bad_alloc();
  if (refuseNth != 0 && ++requests == refuseNth) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

// Kept out of line: inlined where a block from new is deleted, free would look mismatched to
// the compiler, which does not see that this new is malloc.
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, size_t) noexcept { std::free(block); }

namespace {

constexpr uint32_t kBlock = 4096;

class ListMemoryTest : public TreeTest {
 protected:
  void TearDown() override {
    refuseFrom = 0;
    refuseNth = 0;
    TreeTest::TearDown();
  }
};

TEST_F(ListMemoryTest, AValidFileScanWhoseListCannotGrowStops) {
  const Bytes valid = RandomBytes(1, 8 * kBlock);
  scratch.Write("movie.crc", ReferenceTestFile(WithDamage(valid, {3})));
  elsewhere.Write("movie.avi", valid);
  elsewhere.Write("movie.fix", {1, 2, 3});
  const std::string validPath = elsewhere.Path("movie.avi");
  const std::string testPath = scratch.Path("movie.crc");
  refuseFrom = kBlock;  // the list's first page
  const Outcome result = StreamScanValidFile(validPath.c_str(), testPath.c_str(), elsewhere.path().c_str(), StreamControl{});
  refuseFrom = 0;
  EXPECT_EQ(result.ending, Ending::Stopped);
  EXPECT_EQ(result.step, Step::CommitList);
  EXPECT_EQ(result.systemError, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  EXPECT_TRUE(elsewhere.Read("movie.fix") == (Bytes{1, 2, 3}));
  EXPECT_EQ(FolderEntries(elsewhere.path()), (std::vector<std::string>{"movie.avi", "movie.fix"}));
}

TEST_F(ListMemoryTest, ARepairWhoseListCannotBeHadStopsBeforeWriting) {
  const Bytes valid = RandomBytes(2, 8 * kBlock);
  const Bytes broken = WithDamage(valid, {1, 2, 8});
  scratch.Write("movie.avi", broken);
  elsewhere.Write("movie.fix", ReferenceRepairFile(valid, ReferenceTestFile(broken)));
  const std::string brokenPath = scratch.Path("movie.avi");
  const std::string repairPath = elsewhere.Path("movie.fix");
  refuseFrom = 3 * sizeof(uint32_t);  // the list of the three blocks, checked against the file first
  const Outcome result = StreamRepairBrokenFile(brokenPath.c_str(), repairPath.c_str(), RepairOptions{}, StreamControl{});
  refuseFrom = 0;
  EXPECT_EQ(result.ending, Ending::Stopped);
  EXPECT_EQ(result.step, Step::CommitRepairBuffer);
  EXPECT_EQ(result.systemError, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  EXPECT_FALSE(result.brokenFileChanged);
  EXPECT_TRUE(scratch.Read("movie.avi") == broken);
}

// Each request of a folder repair refused in turn: memory taken while the folder is opened and
// the repair file is read stops there, before anything is changed; memory taken for an entry stops at that entry.
// Nothing is left held, and the runs that follow finish the repair.
TEST_F(ListMemoryTest, AFolderRepairWhoseMemoryRunsOutStopsAtThePlanOrTheEntry) {
  const TreeContents valid = {{"d", kFolderMark}, {"d/a.txt", "a"}, {"b.txt", "b"}};
  MakeTree(Valid(), valid);
  MakeTree(Broken(), {{"b.txt", "B"}});
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  const std::string broken = Broken();
  const std::string repairFile = RepairFile();
  bool planStopped = false;
  bool entryStopped = false;
  for (size_t n = 1;; ++n) {
    const TreeContents before = ReadTree(Broken());
    requests = 0;
    refuseNth = n;
    const TreeOutcome result = RepairBrokenFolder(broken.c_str(), repairFile.c_str(), {}, {});
    refuseNth = 0;
    EXPECT_EQ(OpenFileCount(), 0u) << n << " " << result.outcome;
    EXPECT_EQ(HeldRegionCount(), 0u);
    if (result.outcome.ending == Ending::Done) break;
    ASSERT_EQ(result.outcome.ending, Ending::Stopped) << result.outcome;
    EXPECT_EQ(result.outcome.systemError, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
    // On Windows the broken folder's path takes memory of its own, for its UTF-16 form.
    if (result.outcome.step == Step::AllocateRepairPlan || result.outcome.step == Step::OpenBrokenFolder) {
      planStopped = true;
      EXPECT_EQ(TreeDifference(ReadTree(Broken()), before), "");
    } else {
      EXPECT_EQ(result.outcome.step, Step::AllocateRepairEntry) << result.outcome;
      entryStopped = true;
    }
  }
  EXPECT_TRUE(planStopped);
  EXPECT_TRUE(entryStopped);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
}

// A reader of a folder scan refused memory (the name of a file it opens) stops the scan as
// the scan's own thread would, with nothing written and nothing held: the names long enough to
// be refused are those of files the readers reach only once the scan has begun, past their
// buffers.
TEST_F(ListMemoryTest, AFolderScanWhoseReaderRunsOutOfMemoryStops) {
  TreeContents tree;
  for (int i = 0; i < 2 * 64 + 8; ++i) {
    std::string name = std::to_string(1000 + i);
    name.append(i < 100 ? 8 : 180, 'x');
    tree[name] = "contents";
  }
  MakeTree(Broken(), tree);
  StreamControl control;
  control.progress = [](void*, uint64_t, uint64_t) { refuseFrom = 180; };
  const TreeOutcome result = ScanBroken(control);
  refuseFrom = 0;
  EXPECT_EQ(result.outcome.ending, Ending::Stopped) << result.outcome;
  EXPECT_EQ(result.outcome.step, Step::AllocateListing) << result.outcome;
  EXPECT_EQ(RunningThreadCount(), 0u);
  EXPECT_TRUE(outputs.Names().empty());
}

}  // namespace
