// Whole folders through the three steps: a tree with damaged, missing, extra, empty,
// renamed-by-case and Cyrillic entries comes out equal to the valid one, also when the repair
// is cut short and run again; links are never followed, also one planted after the scan.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "core/file_kinds.h"
#include "tests/tree/tree_test.h"

namespace {

constexpr size_t kBlock = 4096;

// Two words of a block swapped: the block's checksum cannot see it, the fingerprint can.
std::string SwapWords(std::string text, size_t at) {
  for (size_t i = 0; i < 4; ++i) std::swap(text[at + i], text[at + 4 + i]);
  return text;
}

// Folders whose path below the tree is 305 characters long.
std::string LongPath() {
  std::string path;
  for (char c = 'a'; c < 'f'; ++c) path += (path.empty() ? "" : "/") + std::string(60, c);
  return path;
}

class FolderExchangeTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    const std::string summer = Noise(1, 3 * kBlock + 100);
    const std::string large = Noise(2, (3u << 19) + 7);  // two regions of 1 MiB
    valid = {
        {"photos", kFolderMark},
        {U8(u8"photos/лето.jpg"), summer},
        // After large.bin, the second file of more than one slice: the working thread goes on
        // round the ring from where the first left it.
        {"photos/raw.bin", Noise(6, (1u << 20) + 3 * kBlock)},
        {U8(u8"photos/Зима.JPG"), Noise(3, 5000)},
        {"Docs", kFolderMark},
        {"Docs/readme.txt", "read me"},
        {"empty", kFolderMark},
        {"music", kFolderMark},
        {"music/track.bin", Noise(4, 2 * kBlock)},
        {"large.bin", large},
        {"zero.bin", ""},
        {"emptied.bin", ""},
        {"swap", "a file here"},
        // A name outside any ANSI code page of Europe, and a path beyond 260 characters.
        {U8(u8"photos/写真"), kFolderMark},
        {U8(u8"photos/写真/海.jpg"), Noise(5, 4096)},
        {LongPath(), kFolderMark},
        {LongPath() + "/deep.txt", "deep"},
    };
    for (size_t cut = LongPath().find('/'); cut != std::string::npos; cut = LongPath().find('/', cut + 1)) {
      valid[LongPath().substr(0, cut)] = kFolderMark;
    }
    broken = valid;
    std::string damagedSummer = summer;
    damagedSummer[kBlock + 10] ^= 0x40;
    broken[U8(u8"photos/лето.jpg")] = damagedSummer;
    broken["photos/raw.bin"][(1u << 20) + kBlock] ^= 0x01;
    broken.erase(U8(u8"photos/Зима.JPG"));
    broken[U8(u8"photos/зима.jpg")] = valid[U8(u8"photos/Зима.JPG")];
    broken.erase("Docs");
    broken.erase("Docs/readme.txt");
    broken["docs"] = kFolderMark;
    broken["docs/readme.txt"] = "read me, and more behind";
    broken.erase("empty");
    broken.erase("music");
    broken.erase("music/track.bin");
    broken.erase(U8(u8"photos/写真/海.jpg"));
    broken[LongPath() + "/deep.txt"] = "DEEP";
    broken["large.bin"] = SwapWords(large, 200 * kBlock);
    broken["emptied.bin"] = "not empty";
    broken["swap"] = kFolderMark;
    broken["swap/inner.txt"] = "inner";
    broken["old.tmp"] = "extra";
    broken["trash"] = kFolderMark;
    broken["trash/x.txt"] = "extra too";
    MakeTree(Valid(), valid);
    MakeTree(Broken(), broken);
  }

  TreeContents valid;
  TreeContents broken;
};

TEST_F(FolderExchangeTest, ARepairThatDeletesTheExtraEntriesMakesTheTreesEqual) {
  const TreeOutcome scanned = ScanBroken();
  ASSERT_EQ(scanned.outcome.ending, Ending::Done) << scanned.outcome;
  EXPECT_EQ(scanned.outcome.outputPath, TestFile());
  const TreeOutcome compared = ScanValid();
  ASSERT_EQ(compared.outcome.ending, Ending::Done) << compared.outcome;

  // What the comparison found, by name alone and by reading.
  const auto damaged = EntriesWith(compared, EntryEvent::Damaged);
  ASSERT_EQ(damaged.size(), 6u);
  EXPECT_EQ(damaged.at(U8(u8"photos/лето.jpg")).blocks, 1u);
  EXPECT_EQ(damaged.at("photos/raw.bin").blocks, 1u);
  EXPECT_EQ(damaged.at("large.bin").blocks, 256u) << "the first region, whose fingerprint differs";
  EXPECT_EQ(damaged.at("Docs/readme.txt").blocks, 1u);
  EXPECT_EQ(damaged.at("emptied.bin").blocks, 0u);
  EXPECT_EQ(EntriesWith(compared, EntryEvent::CaseDiffers).size(), 2u);
  EXPECT_EQ(EntriesWith(compared, EntryEvent::Missing).size(), 3u);  // music/track.bin, swap, photos/写真/海.jpg
  EXPECT_EQ(EntriesWith(compared, EntryEvent::FolderMissing).size(), 2u);
  EXPECT_EQ(EntriesWith(compared, EntryEvent::Extra).size(), 5u);  // old.tmp, trash, trash/x.txt, swap, swap/inner.txt
  EXPECT_FALSE(AnySkipped(compared));

  const TreeOutcome repaired = Repair(true);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  EXPECT_FALSE(AnySkipped(repaired));
  EXPECT_FALSE(AnyMismatch(repaired));
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");

  // The closing check: the folders now agree.
  EXPECT_EQ(ScanBroken().outcome.ending, Ending::Done);
  EXPECT_EQ(ScanValid().outcome.ending, Ending::Identical);
}

TEST_F(FolderExchangeTest, ExtraEntriesAreToldAndLeftUnlessDeletionIsAsked) {
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  const TreeOutcome repaired = Repair(false);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Extra).size(), 5u);
  // The folder in the way of the file "swap" stays, and the file is not made.
  const auto skipped = EntriesWith(repaired, EntryEvent::Skipped);
  ASSERT_EQ(skipped.count("swap"), 1u);
  EXPECT_EQ(skipped.at("swap").skip, EntrySkip::NameTaken);

  TreeContents expected = valid;
  for (const char* extra : {"old.tmp", "trash", "trash/x.txt", "swap/inner.txt"}) expected[extra] = broken[extra];
  expected["swap"] = kFolderMark;
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), expected), "");
}

TEST_F(FolderExchangeTest, ARepairCutShortIsFinishedByRunningItAgain) {
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  const Bytes repairFile = ReadWholeFile(RepairFile());
  for (const uint64_t stopAt : {uint64_t{1}, uint64_t{100 * kBlock}}) {
    SCOPED_TRACE(stopAt);
    ProgressRecord record;
    record.stopAt = stopAt;
    const TreeOutcome stopped = Repair(true, ControlFor(&record));
    EXPECT_EQ(stopped.outcome.ending, Ending::Cancelled);
    EXPECT_TRUE(stopped.outcome.brokenFileChanged);
  }
  EXPECT_NE(TreeDifference(ReadTree(Broken()), valid), "");
  EXPECT_EQ(Repair(true).outcome.ending, Ending::Done);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), valid), "");
  EXPECT_TRUE(ReadWholeFile(RepairFile()) == repairFile);
}

// What the valid folder's scan finds, entry by entry: the event and the blocks.
std::map<std::string, std::string> Findings(const TreeOutcome& result) {
  std::map<std::string, std::string> found;
  for (const EntryReport& entry : result.entries) {
    if (entry.event == EntryEvent::Extra) continue;  // by key alone in the compact form
    found[entry.path] = std::to_string(static_cast<int>(entry.event)) + "/" + std::to_string(static_cast<int>(entry.skip)) +
                        "/" + std::to_string(entry.blocks);
  }
  return found;
}

// The compact test file, of the smallest budget, finds what the plain one finds, links left
// alone on both sides, and its repair makes the same tree: the extra entries, which the valid
// side knows by key alone, are found and deleted by the repair in the broken folder's listing.
TEST_F(FolderExchangeTest, TheCompactTestFileFindsWhatThePlainOneFindsAndMakesTheSameTree) {
  MakeTree(elsewhere.Path("outside"), {{"secret.txt", "outside"}});
  MakeLink(Broken(), "photos/away", elsewhere.Path("outside"));
  MakeLink(Valid(), "photos/away", elsewhere.Path("outside"));
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  const TreeOutcome plain = ScanValid();
  ASSERT_EQ(plain.outcome.ending, Ending::Done) << plain.outcome;

  choice.budget = 4096;
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  const Bytes test = ReadWholeFile(TestFile());
  ASSERT_EQ(ReadExchangeFileKind(test.data(), test.size()), ExchangeFileKind::CompactFolderTestFile);
  EXPECT_EQ(test.size(), 4080u);
  const TreeOutcome compact = ScanValid();
  ASSERT_EQ(compact.outcome.ending, Ending::Done) << compact.outcome;
  EXPECT_EQ(Findings(compact), Findings(plain));

  const TreeOutcome repaired = Repair(true);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  EXPECT_FALSE(AnyMismatch(repaired));
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Deleted).size(), 5u);
  TreeContents expected = valid;
  expected["photos/away"] = "<link>";
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), expected), "");
  EXPECT_EQ(ReadTree(elsewhere.Path("outside")), (TreeContents{{"secret.txt", "outside"}}));

  // The closing proof through the compact form: every file, read back against its fingerprint.
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValidFolder(Valid().c_str(), TestFile().c_str(), outputs.path().c_str(), {}, true).outcome.ending, Ending::Done);
  const TreeOutcome proved = Repair();
  size_t files = 0;
  for (const auto& [path, content] : valid) files += content != kFolderMark ? 1 : 0;
  EXPECT_EQ(EntriesWith(proved, EntryEvent::Verified).size(), files);
  EXPECT_FALSE(AnySkipped(proved));
}

// A folder renamed only in letter case, by a letter beyond the alphabets of Europe
// (Vietnamese ả, U+1EA3): paired by NTFS's rule and renamed by a repair file of a few bytes,
// not carried again.
TEST_F(FolderExchangeTest, AFolderThatDiffersOnlyInCaseIsRenamedByASmallRepairFile) {
  RemoveTree(Broken());
  RemoveTree(Valid());
  const std::string photo = Noise(7, 200000);
  // Out of the macros, which the Windows build would spell in Windows-1251.
  const std::string lower = U8(u8"ảnh"), upper = U8(u8"Ảnh");
  MakeTree(Broken(), {{lower, kFolderMark}, {lower + "/photo.jpg", photo}});
  const TreeContents renamed = {{upper, kFolderMark}, {upper + "/photo.jpg", photo}};
  MakeTree(Valid(), renamed);
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  const TreeOutcome compared = ScanValid();
  ASSERT_EQ(compared.outcome.ending, Ending::Done) << compared.outcome;
  EXPECT_EQ(EntriesWith(compared, EntryEvent::CaseDiffers).count(upper), 1u);
  EXPECT_LT(compared.outcome.outputBytes, 100u);
  const TreeOutcome repaired = Repair();
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Renamed).count(upper), 1u);
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), renamed), "");
}

TEST_F(FolderExchangeTest, LinksInEitherTreeAreListedAsSkippedAndNeverEntered) {
  const TreeContents outside = {{"secret.txt", "outside"}};
  MakeTree(elsewhere.Path("outside"), outside);
  MakeLink(Broken(), "photos/away", elsewhere.Path("outside"));
  MakeLink(Valid(), "photos/away", elsewhere.Path("outside"));

  const TreeOutcome scanned = ScanBroken();
  ASSERT_EQ(scanned.outcome.ending, Ending::Done) << scanned.outcome;
  ASSERT_EQ(EntriesWith(scanned, EntryEvent::Skipped).count("photos/away"), 1u);
  EXPECT_EQ(EntriesWith(scanned, EntryEvent::Skipped).at("photos/away").skip, EntrySkip::Link);
  const TreeOutcome compared = ScanValid();
  ASSERT_EQ(compared.outcome.ending, Ending::Done);
  EXPECT_EQ(EntriesWith(compared, EntryEvent::Skipped).count("photos/away"), 1u);
  EXPECT_EQ(Repair(true).outcome.ending, Ending::Done);
  EXPECT_EQ(ReadTree(elsewhere.Path("outside")), outside);
}

// Between the scan and the repair a folder of the broken tree becomes a link to a copy of
// it elsewhere: the repair must neither write into the copy nor create anything there.
TEST_F(FolderExchangeTest, AFolderLinkPlantedAfterTheScanIsNeverWrittenThrough) {
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  TreeContents copy;
  for (const auto& [path, content] : broken) {
    if (path.rfind("photos/", 0) == 0) copy[path.substr(7)] = content;
  }
  MakeTree(elsewhere.Path("copy"), copy);
  RemoveTree(Broken() + kPathSeparator + "photos");
  MakeLink(Broken(), "photos", elsewhere.Path("copy"));

  const TreeOutcome repaired = Repair(true);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  const auto skipped = EntriesWith(repaired, EntryEvent::Skipped);
  ASSERT_EQ(skipped.count(U8(u8"photos/лето.jpg")), 1u);
  EXPECT_EQ(skipped.at(U8(u8"photos/лето.jpg")).skip, EntrySkip::Link);
  EXPECT_EQ(ReadTree(elsewhere.Path("copy")), copy);
}

#ifndef _WIN32
// The same for a file; Wine shows only a folder's link as one, so this is Linux's.
TEST_F(FolderExchangeTest, AFileLinkPlantedAfterTheScanIsNeverWrittenThrough) {
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  ASSERT_EQ(ScanValid().outcome.ending, Ending::Done);
  MakeTree(elsewhere.Path("copy"), {{"readme.txt", broken["docs/readme.txt"]}});
  std::filesystem::remove(std::filesystem::path(Broken()) / "docs" / "readme.txt");
  MakeLink(Broken(), "docs/readme.txt", elsewhere.Path("copy") + "/readme.txt");

  const TreeOutcome repaired = Repair(true);
  ASSERT_EQ(repaired.outcome.ending, Ending::Done) << repaired.outcome;
  EXPECT_EQ(EntriesWith(repaired, EntryEvent::Skipped).at("Docs/readme.txt").skip, EntrySkip::Link);
  EXPECT_EQ(ReadTree(elsewhere.Path("copy")), (TreeContents{{"readme.txt", broken["docs/readme.txt"]}}));
}
#endif

}  // namespace

namespace {

using FolderNamesTest = TreeTest;

#ifndef _WIN32
// A name that is not UTF-8 can be in no exchange file: it is told, never silently left out.
TEST_F(FolderNamesTest, ANameThatIsNotUtf8IsToldAsSkipped) {
  MakeTree(Broken(), {{"good.txt", "good"}});
  scratch.Write("tree/bad-\xFF.txt", {1});
  const TreeOutcome scanned = ScanBroken();
  ASSERT_EQ(scanned.outcome.ending, Ending::Done);
  const auto skipped = EntriesWith(scanned, EntryEvent::Skipped);
  ASSERT_EQ(skipped.count("bad-\xFF.txt"), 1u);
  EXPECT_EQ(skipped.at("bad-\xFF.txt").skip, EntrySkip::BadName);
  EXPECT_EQ(skipped.at("bad-\xFF.txt").nameFault, NameFault::NotUtf8);
}
#endif

// A test file made on Windows says so: valid names that cannot exist there are told as
// skipped instead of being carried to a repair that must refuse them.
TEST_F(FolderNamesTest, NamesTheBrokenSideCannotHoldAreNotCarried) {
  MakeTree(Broken(), {{"keep.txt", "keep"}});
  ASSERT_EQ(ScanBroken().outcome.ending, Ending::Done);
  Bytes test = ReadWholeFile(TestFile());
  test.at(12) = 1;
  outputs.Write("tree.crc", test);
  const bool caseSensitive = !FileSystemNameLimits().ignoresCase;
  TreeContents valid = {{"keep.txt", "keep"}, {"new.txt", "new"}};
  if (!FileSystemNameLimits().windowsNames) {
    valid["nul.txt"] = "device";
    valid["dot."] = "dot";
  }
  if (caseSensitive) {
    valid["Twice.txt"] = "first";
    valid["twice.txt"] = "second";
  }
  MakeTree(Valid(), valid);
  const TreeOutcome compared = ScanValid();
  ASSERT_EQ(compared.outcome.ending, Ending::Done) << compared.outcome;
  const auto skipped = EntriesWith(compared, EntryEvent::Skipped);
  std::map<std::string, NameFault> expected;
  if (!FileSystemNameLimits().windowsNames) {
    expected["nul.txt"] = NameFault::ReservedName;
    expected["dot."] = NameFault::TrailingDotOrSpace;
  }
  if (caseSensitive) expected["twice.txt"] = NameFault::CaseClash;
  ASSERT_EQ(skipped.size(), expected.size());
  for (const auto& [path, fault] : expected) {
    EXPECT_EQ(skipped.at(path).skip, EntrySkip::NotPossibleThere) << path;
    EXPECT_EQ(skipped.at(path).nameFault, fault) << path;
  }
  EXPECT_EQ(TreeDifference(ReadTree(Broken()), {{"keep.txt", "keep"}}), "");
  EXPECT_EQ(Repair().outcome.ending, Ending::Done);
  EXPECT_EQ(ReadTree(Broken()).count("new.txt"), 1u);
}

}  // namespace
