// The rules of the file systems a tree lives on, as tables: what a reparse tag makes of an
// entry, NTFS's upcase table, when a held file is tried again, and which Linux folders ignore
// letter case.
#include <gtest/gtest.h>

#include <vector>

#include "core/fingerprint.h"
#include "core/held_files.h"
#include "core/linux_file_systems.h"
#include "core/ntfs_upcase.h"
#include "core/reparse_points.h"

namespace {

TEST(ReparsePointsTest, EachTagByWhatItMakesOfTheEntry) {
  const struct {
    uint32_t tag;
    ReparseKind kind;
  } cases[] = {
      {0xA000000C, ReparseKind::Link},        // symbolic link
      {0xA0000003, ReparseKind::Link},        // junction, mount point
      {0xA000001D, ReparseKind::Link},        // the Linux subsystem's symbolic link
      {0x9000001A, ReparseKind::Plain},       // cloud files
      {0x9000101A, ReparseKind::Plain},       // CLOUD_1
      {0x9000701A, ReparseKind::Plain},       // CLOUD_7
      {0x9000F01A, ReparseKind::Plain},       // CLOUD_F
      {0x80000017, ReparseKind::Plain},       // system compression (WOF)
      {0x80000013, ReparseKind::Plain},       // deduplication
      {0x80000023, ReparseKind::NotRegular},  // AF_UNIX socket
      {0x80000024, ReparseKind::NotRegular},  // LX_FIFO
      {0x80000025, ReparseKind::NotRegular},  // LX_CHR
      {0x80000026, ReparseKind::NotRegular},  // LX_BLK
      {0x9000001B, ReparseKind::Unknown},     // beside the cloud tags
      {0x9001001A, ReparseKind::Unknown},     // a cloud tag with a bit beyond the provider's number
      {0x8000001B, ReparseKind::Unknown},     // app execution alias
      {0x00000000, ReparseKind::Unknown},
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfReparseTag(c.tag), c.kind) << std::hex << c.tag;
}

TEST(ReparsePointsTest, AnEntryOpenedThroughItsFilterIsUsedOnlyWhenItIsTheSameEntry) {
  const EntryIdentity listed{7, 0, 42, kAttributeReparsePoint, 0x9000001A};
  EntryIdentity other = listed;
  other.fileIdLow = 43;
  EntryIdentity otherVolume = listed;
  otherVolume.volume = 8;
  EntryIdentity link = listed;
  link.tag = 0xA000000C;
  EntryIdentity unknown = listed;
  unknown.tag = 0x8000001B;
  EntryIdentity decompressed = listed;
  decompressed.attributes = 0x20;
  const struct {
    const char* what;
    EntryIdentity reopened;
    bool same;
  } cases[] = {
      {"the same file", listed, true},         {"another file", other, false},   {"another volume", otherVolume, false},
      {"a link now", link, false},             {"an unknown tag", unknown, false}, {"without its tag", decompressed, true},
  };
  for (const auto& c : cases) EXPECT_EQ(SameEntryThroughFilter(listed, c.reopened), c.same) << c.what;
  EXPECT_TRUE(FetchedWhenRead(kAttributeRecallOnDataAccess | kAttributeReparsePoint));
  EXPECT_FALSE(FetchedWhenRead(kAttributeReparsePoint | 0x20));
}

TEST(NtfsUpcaseTest, OneUnitForOneAsWindowsWritesTheTable) {
  const struct {
    uint16_t unit;
    uint16_t upper;
  } cases[] = {
      {u'a', u'A'},       {u'Z', u'Z'},       {u'ÿ', u'Ÿ'},       {u'я', u'Я'},       {u'ё', u'Ё'},
      {u'ả', u'Ả'},       {u'ǆ', u'Ǆ'},       {u'ǅ', u'ǅ'},       {u'ω', u'Ω'},       {u'ς', u'ς'},
      {u'ß', u'ß'},       {u'ſ', u'ſ'},       {u'µ', u'µ'},       {u'ı', u'ı'},       {u'ⓐ', u'Ⓐ'},
      {u'ⅰ', u'Ⅰ'},       {u'ｚ', u'Ｚ'},       {u'ა', u'ა'},       {0xAB70, 0xAB70},   {0xD83D, 0xD83D},
      {u'ᾳ', u'ᾼ'},       {0x1D79, 0xA77D},   {u'5', u'5'},
  };
  for (const auto& c : cases) EXPECT_EQ(NtfsUpcase(c.unit), c.upper) << std::hex << c.unit;
  // The whole table, byte for byte the $UpCase file mkntfs writes (its XXH3-128).
  std::vector<uint8_t> table;
  for (uint32_t unit = 0; unit < 65536; ++unit) {
    const uint16_t upper = NtfsUpcase(static_cast<uint16_t>(unit));
    table.push_back(static_cast<uint8_t>(upper));
    table.push_back(static_cast<uint8_t>(upper >> 8));
  }
  EXPECT_EQ(Hash128Hex(Xxh3Hash128(table.data(), table.size())), "dafe76b8f3fda8b254ea5881c8b381e3");
}

TEST(HeldFilesTest, GrowingPausesWithinTheEntrysAndTheRunsTime) {
  const struct {
    uint32_t tries, entryWaited, runWaited, pause;
  } cases[] = {
      {1, 0, 0, 100},        {2, 100, 100, 200},    {3, 300, 300, 400},    {5, 1500, 1500, 1600},
      {6, 3100, 3100, 2000}, {9, 9100, 9100, 900},  {10, 10000, 10000, 0}, {40, 0, 0, 2000},
      {3, 300, 59900, 100},  {3, 300, 60000, 0},    {0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HeldFilePause(c.tries, c.entryWaited, c.runWaited), c.pause) << c.tries << " " << c.entryWaited << " " << c.runWaited;
  }
  // Tried again from the start until the entry's time is used up: 10 s and no more.
  uint32_t waited = 0, tries = 1;
  for (uint32_t pause; (pause = HeldFilePause(tries, waited, waited)) != 0; ++tries) waited += pause;
  EXPECT_EQ(waited, kHeldEntryWaitMs);
  EXPECT_EQ(tries, 10u);
  for (const uint32_t code : {32u, 33u}) EXPECT_TRUE(IsHeldError(code)) << code;
  for (const uint32_t code : {0u, 5u, 225u, 226u, 1224u}) EXPECT_FALSE(IsHeldError(code)) << code;
}

TEST(LinuxFileSystemsTest, FoldersThatIgnoreCaseByTypeFlagAndMount) {
  const struct {
    const char* what;
    LinuxFolderFacts facts;
    bool ignoresCase;
  } cases[] = {
      {"ext4", {0xEF53, false, "ext4", "rw,relatime"}, false},
      {"ext4, a case-folded folder", {0xEF53, true, "ext4", "rw"}, true},
      {"f2fs, a case-folded folder", {0xF2F52010, true, "f2fs", "rw"}, true},
      {"vfat", {0x4D44, false, "vfat", "rw,shortname=mixed"}, true},
      {"exFAT", {0x2011BAB0, false, "exfat", "rw"}, true},
      {"CIFS", {0xFF534D42, false, "cifs", "rw,vers=3.1.1"}, true},
      {"SMB2", {0xFE534D42, false, "smb3", "rw"}, true},
      {"ntfs3", {0x5346544E, false, "ntfs3", "rw,uid=0"}, false},
      {"ntfs3 with nocase", {0x5346544E, false, "ntfs3", "rw,nocase"}, true},
      {"ntfs-3g with ignore_case", {0x65735546, false, "fuseblk", "rw,user_id=0,ignore_case"}, true},
      {"ntfs-3g", {0x65735546, false, "fuseblk", "rw,user_id=0"}, false},
      {"another FUSE file system", {0x65735546, false, "fuse.sshfs", "rw,nocase"}, false},
      {"an option that only begins so", {0x5346544E, false, "ntfs", "rw,nocase_x"}, false},
      {"tmpfs", {0x01021994, false, "tmpfs", "rw"}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(LinuxFolderIgnoresCase(c.facts), c.ignoresCase) << c.what;
  EXPECT_TRUE(LinuxCaseDependsOnMount(0x5346544E));
  EXPECT_FALSE(LinuxCaseDependsOnMount(0xEF53));
}

}  // namespace
