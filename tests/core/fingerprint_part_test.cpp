// The fingerprint part and the follow-up test file read back as written, and every kind of
// damage a transfer can do to a part refused; the comparison of a file with a part.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint_part.h"
#include "core/test_file.h"
#include "tests/testing/scratch_folder.h"

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

// A valid file of three regions and a bit; the hashes are made up, the part does not care.
constexpr uint64_t kSize = 3 * kMiB + 100;
const Hash128 kWhole{1, 2};
const Hash128 kRegions[4] = {{10, 11}, {20, 21}, {30, 31}, {40, 41}};

Bytes Part(const uint32_t* listed = nullptr, uint64_t listedCount = 0) {
  Bytes part(FingerprintPartBytes(listed != nullptr ? FingerprintForm::ListedRegions : FingerprintForm::EveryRegion,
                                  listed != nullptr ? listedCount : 4));
  part.resize(StoreFingerprintPart(part.data(), kSize, kWhole, kRegions, listed, listedCount));
  return part;
}

FingerprintVerdict Read(const Bytes& part, uint64_t validSize = kSize) {
  FingerprintPart header;
  Bytes start = part;
  start.resize(kLongestFingerprintHeader > part.size() ? kLongestFingerprintHeader : part.size(), 0);
  const FingerprintVerdict verdict = ReadFingerprintHeader(start.data(), part.size(), validSize, 0, &header);
  if (verdict != FingerprintVerdict::Read) return verdict;
  return FingerprintPartHolds(part.data(), header) ? FingerprintVerdict::Read : FingerprintVerdict::Damaged;
}

// The part with its check made good again after a change, as a deliberate forgery would.
Bytes Resealed(Bytes part) {
  const size_t checked = part.size() - kFingerprintCheckBytes;
  StoreHash128(part.data() + checked, Xxh3Hash128(part.data(), checked));
  return part;
}

TEST(FingerprintPartTest, ReadsBackAsWrittenInBothForms) {
  const Bytes every = Part();
  EXPECT_EQ(every.size(), 56u + 4 * 16 + 16);
  EXPECT_TRUE(Bytes(every.begin(), every.begin() + 8) == (Bytes{0x89, 'V', 'F', 'P', '\r', '\n', 0x1A, '\n'}));
  FingerprintPart header;
  ASSERT_EQ(ReadFingerprintHeader(every.data(), every.size(), kSize, 0, &header), FingerprintVerdict::Read);
  ASSERT_TRUE(FingerprintPartHolds(every.data(), header));
  EXPECT_EQ(header.regionSize, kMiB);
  EXPECT_EQ(header.regionCount, 4u);
  EXPECT_EQ(header.whole, kWhole);
  EXPECT_EQ(FingerprintEntryHash(every.data(), header, 3), kRegions[3]);

  const uint32_t listed[] = {1, 3};
  const Bytes some = Part(listed, 2);
  EXPECT_EQ(some.size(), 56u + 2 * 20 + 16);
  ASSERT_EQ(ReadFingerprintHeader(some.data(), some.size(), kSize, 0, &header), FingerprintVerdict::Read);
  ASSERT_TRUE(FingerprintPartHolds(some.data(), header));
  EXPECT_EQ(FingerprintEntryRegion(some.data(), header, 1), 3u);
  EXPECT_EQ(FingerprintEntryHash(some.data(), header, 1), kRegions[3]);
  EXPECT_EQ(Read(Bytes{}), FingerprintVerdict::Absent);
}

TEST(FingerprintPartTest, RefusesEveryDamage) {
  const uint32_t listed[] = {1, 3};
  const struct {
    const char* name;
    std::function<Bytes()> part;
    uint64_t validSize;
  } cases[] = {
      {"cut by one byte", [] { Bytes p = Part(); p.pop_back(); return p; }, kSize},
      {"cut inside the header", [] { Bytes p = Part(); p.resize(20); return p; }, kSize},
      {"one byte behind it", [] { Bytes p = Part(); p.push_back(0); return p; }, kSize},
      {"CR LF turned into LF", [] { Bytes p = Part(); p.erase(p.begin() + 4); return p; }, kSize},
      {"the high bit stripped", [] { Bytes p = Part(); p[0] &= 0x7F; return p; }, kSize},
      {"a region hash changed", [] { Bytes p = Part(); p[56 + 16 + 3] ^= 0x01; return p; }, kSize},
      {"the check changed", [] { Bytes p = Part(); p.back() ^= 0x80; return p; }, kSize},
      {"another version", [] { Bytes p = Part(); StoreU32LE(p.data() + 8, 3); return Resealed(p); }, kSize},
      {"another valid size than the header's", [] { return Part(); }, kSize + 1},
      {"a region size that is not the rule's", [] { Bytes p = Part(); StoreU64LE(p.data() + 16, 2 * kMiB); return Resealed(p); }, kSize},
      {"listed regions out of order",
       [&] { Bytes p = Part(listed, 2); StoreU32LE(p.data() + 56, 3); StoreU32LE(p.data() + 76, 1); return Resealed(p); }, kSize},
      {"a listed region beyond the file",
       [&] { Bytes p = Part(listed, 2); StoreU32LE(p.data() + 76, 4); return Resealed(p); }, kSize},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.part(), c.validSize), FingerprintVerdict::Damaged);
  }
}

TEST(FingerprintPartTest, ComparesAFileRegionByRegion) {
  const Bytes every = Part();
  FingerprintPart header;
  ASSERT_EQ(ReadFingerprintHeader(every.data(), every.size(), kSize, 0, &header), FingerprintVerdict::Read);
  std::vector<uint32_t> differing;
  EXPECT_EQ(CompareWithFingerprint(every.data(), header, kSize, kWhole, kRegions, &differing), Verification::Verified);

  Hash128 file[5] = {kRegions[0], {0, 0}, kRegions[2], {0, 0}, {0, 0}};
  EXPECT_EQ(CompareWithFingerprint(every.data(), header, kSize, {9, 9}, file, &differing), Verification::Differs);
  EXPECT_EQ(differing, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(RegionRanges(differing, kMiB, kSize), (std::vector<ByteRange>{{kMiB, 2 * kMiB - 1}, {3 * kMiB, kSize - 1}}));
  // A file longer by a region: its last region of the part and the one behind it.
  file[3] = kRegions[3];
  EXPECT_EQ(CompareWithFingerprint(every.data(), header, kSize + kMiB, {9, 9}, file, &differing), Verification::Differs);
  EXPECT_EQ(differing, (std::vector<uint32_t>{1, 3, 4}));
  EXPECT_EQ(RegionRanges(differing, kMiB, kSize + kMiB), (std::vector<ByteRange>{{kMiB, 2 * kMiB - 1}, {3 * kMiB, kSize + kMiB - 1}}));

  // Listed regions all agree but the whole does not: the difference is in a region not listed.
  const uint32_t listed[] = {1, 3};
  const Bytes some = Part(listed, 2);
  ASSERT_EQ(ReadFingerprintHeader(some.data(), some.size(), kSize, 0, &header), FingerprintVerdict::Read);
  EXPECT_EQ(CompareWithFingerprint(some.data(), header, kSize, {9, 9}, kRegions, &differing), Verification::Differs);
  EXPECT_EQ(differing, (std::vector<uint32_t>{0, 2}));
}

TEST(FollowUpTest, IsReadOnlyByItsOwnReaderAndRefusedByTheOthers) {
  Bytes header(kFollowUpHeaderBytes);
  const FollowUpLayout expected = FollowUpLayoutFor(kSize, 2);
  ASSERT_EQ(StoreFollowUpHeader(header.data(), expected), kFollowUpHeaderBytes);
  const uint64_t length = FollowUpLength(expected);
  EXPECT_EQ(length, 36u + 2 * (4 + 8 * 256) + 16);
  EXPECT_EQ(ReadExchangeFileKind(header.data(), length), ExchangeFileKind::FollowUpTestFile);
  FollowUpLayout layout;
  ASSERT_TRUE(ReadFollowUpLayout(header.data(), length, &layout));
  EXPECT_EQ(layout.size, kSize);
  EXPECT_EQ(layout.regions, 2u);
  EXPECT_FALSE(ReadFollowUpLayout(header.data(), length - 1, &layout));
  Bytes none = header;
  StoreU32LE(none.data() + 32, 0);
  EXPECT_FALSE(ReadFollowUpLayout(none.data(), FollowUpLength(FollowUpLayoutFor(kSize, 0)), &layout));
  Bytes tooMany = header;
  StoreU32LE(tooMany.data() + 32, 5);
  EXPECT_FALSE(ReadFollowUpLayout(tooMany.data(), FollowUpLength(FollowUpLayoutFor(kSize, 5)), &layout));

  // The reader of the large form takes it for a malformed large test file, and the small
  // form's reader for a test file of more blocks than any file below 4 GiB has.
  TestFileLayout test;
  EXPECT_EQ(ReadTestFileLayout(header.data(), length, true, &test), TestFileVerdict::LargeMalformed);
  ASSERT_EQ(ReadTestFileLayout(header.data(), length, false, &test), TestFileVerdict::Read);
  EXPECT_GT(test.entries, BlockCount64(kSize));

  // Version 2 names the repair file it follows and the test file that one answered.
  const FollowedRepair followed{{1, 2}, {3, 4}};
  const FollowUpLayout naming = FollowUpLayoutFor(kSize, 2, &followed);
  Bytes named(kLongestFollowUpHeader);
  ASSERT_EQ(StoreFollowUpHeader(named.data(), naming), 68u);
  ASSERT_TRUE(ReadFollowUpLayout(named.data(), FollowUpLength(naming), &layout));
  EXPECT_TRUE(layout.hasFollowed);
  EXPECT_EQ(layout.followed.repairFile, followed.repairFile);
  EXPECT_EQ(layout.followed.testFile, followed.testFile);
  EXPECT_FALSE(ReadFollowUpLayout(named.data(), FollowUpLength(naming) - 32, &layout)) << "read as version 1's length";
}

}  // namespace
