// Valid-file scan: the repair file it writes by the rules of the exchange, whatever the test
// file says, how it names it, and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "stream/operations.h"
#include "tests/testing/engine_test.h"
#include "tests/testing/reference.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kBlock = 4096;


// The fingerprint part of a file of at most 1 MiB, three blocks, one of them carried: one
// region, the record with the carried block's entry and two blocks sampled.
constexpr uint32_t kOneRegionPart = 112 + 16 + 4 + 2 * 8 + 16;

uint32_t U32(const Bytes& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

uint32_t Blocks(size_t size) { return static_cast<uint32_t>((size + kBlock - 1) / kBlock); }

// Block number (from 1) of a file, filled up with zeros to 4096 bytes.
Bytes BlockOf(const Bytes& file, uint32_t number) {
  Bytes block(kBlock, 0);
  const size_t start = size_t{number - 1} * kBlock;
  if (start < file.size()) {
    std::copy(file.begin() + static_cast<std::ptrdiff_t>(start),
              file.begin() + static_cast<std::ptrdiff_t>(std::min(start + kBlock, file.size())), block.begin());
  }
  return block;
}

// The repair file laid out from the block numbers it must carry, up to its fingerprint part
// (which the reference model derives with the record of the broken file).
Bytes RepairFileCarrying(const Bytes& valid, const std::vector<uint32_t>& numbers) {
  Bytes file = Concat({Le32(static_cast<uint32_t>(valid.size())), Le32(static_cast<uint32_t>(numbers.size()))});
  file.reserve(file.size() + numbers.size() * (4 + kBlock));
  for (uint32_t number : numbers) {
    const Bytes entry = Le32(number);
    file.insert(file.end(), entry.begin(), entry.end());
  }
  for (uint32_t number : numbers) {
    const Bytes block = BlockOf(valid, number);
    file.insert(file.end(), block.begin(), block.end());
  }
  return file;
}

// A repair file without its fingerprint part.
Bytes WithoutPart(const Bytes& fix) {
  const uint64_t end = fix.size() < 8 ? fix.size() : 8 + uint64_t{4100} * U32(fix, 4);
  return Bytes(fix.begin(), fix.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(end, fix.size())));
}

// Compares without printing megabytes of bytes on a mismatch.
::testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size();
  }
  if (actual.empty() || std::memcmp(actual.data(), expected.data(), actual.size()) == 0) {
    return ::testing::AssertionSuccess();
  }
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin());
  if (a != actual.end()) {
    return ::testing::AssertionFailure() << "first difference at offset " << (a - actual.begin()) << ": "
                                         << int{*a} << ", expected " << int{*e};
  }
  return ::testing::AssertionSuccess();
}

struct RepairFields {
  uint32_t validSize = 0;
  uint32_t count = 0;
  std::vector<uint32_t> numbers;
  std::vector<Bytes> blocks;
};

// Splits a repair file into its fields; a length that does not match the count and a
// fingerprint of one region fails.
RepairFields FieldsOf(const Bytes& file) {
  RepairFields fields;
  if (file.size() < 8) {
    ADD_FAILURE() << "repair file of " << file.size() << " bytes";
    return fields;
  }
  fields.validSize = U32(file, 0);
  fields.count = U32(file, 4);
  const uint64_t regions = (fields.validSize + (1u << 20) - 1) >> 20;
  const uint64_t part = 8 + uint64_t{4100} * fields.count;
  const uint64_t samples = file.size() >= part + 80 ? U32(file, part + 76) : 0;
  if (file.size() != part + 112 + 16 * regions + 4 * fields.count + 8 * samples + 16) {
    ADD_FAILURE() << "repair file of " << file.size() << " bytes announces " << fields.count << " blocks";
    return fields;
  }
  for (uint32_t j = 0; j < fields.count; ++j) {
    fields.numbers.push_back(U32(file, 8 + 4 * size_t{j}));
    const size_t from = 8 + 4 * size_t{fields.count} + size_t{kBlock} * j;
    fields.blocks.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(from),
                               file.begin() + static_cast<std::ptrdiff_t>(from + kBlock));
  }
  return fields;
}

class ScanValidFileTest : public EngineTest {
 protected:
  // Writes an input file and remembers it, so that the test can show it was left alone.
  void PutInput(const std::string& name, const Bytes& contents) {
    scratch.Write(name, contents);
    inputs_[name] = contents;
  }

  void ExpectInputsUnchanged() const {
    for (const auto& [name, contents] : inputs_) EXPECT_TRUE(SameBytes(ReadWholeFile(scratch.Path(name)), contents)) << name;
  }

  int Scan(const std::string& valid, const std::string& test) {
    return Scan(scratch.Path(valid), scratch.Path(test), scratch.path());
  }
  int Scan(const std::string& valid, const std::string& test, const std::string& outputFolder) {
    return Finished(Took(StreamScanValidFile(valid.c_str(), test.c_str(), outputFolder.c_str(), {})));
  }

  // A second scan in the same test starts from a clean slate of calls, releases and boxes.
  void BeginAnotherRun() {
    ClearFaults();
    ResetLedger();
    ForgetTaken();
  }

  void ExpectSizeCheckRefusal() const { ExpectFound(Step::CheckTestFileSize); }

  std::map<std::string, Bytes> inputs_;
};

// A 10000-byte file of three blocks, damaged in one of them.
TEST_F(ScanValidFileTest, CarriesTheOneDamagedBlockOfATenThousandByteFile) {
  const Bytes valid = RandomBytes(1, 10000);
  const Bytes header = {0x10, 0x27, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  const Bytes block2(valid.begin() + 4096, valid.begin() + 8192);
  Bytes block3(valid.begin() + 8192, valid.end());
  block3.resize(block3.size() + 2288, 0);
  const struct {
    uint32_t damaged;
    Bytes expected;
  } cases[] = {
      {2, Concat({header, {0x02, 0x00, 0x00, 0x00}, block2})},
      {3, Concat({header, {0x03, 0x00, 0x00, 0x00}, block3})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.damaged);
    BeginAnotherRun();
    Bytes broken = valid;
    broken[(c.damaged - 1) * kBlock + 777] ^= 0x5A;
    PutInput("example.dat", valid);
    PutInput("example.crc", ReferenceTestFile(broken));

    EXPECT_EQ(Scan("example.dat", "example.crc"), 1);
    const Bytes fix = ReadWholeFile(scratch.Path("example.fix"));
    EXPECT_EQ(fix.size(), 4108u + kOneRegionPart);
    EXPECT_TRUE(SameBytes(WithoutPart(fix), c.expected));
    EXPECT_TRUE(SameBytes(fix, ReferenceRepairFile(valid, ReferenceTestFile(broken))));
    ExpectInputsUnchanged();
  }
}

// Agreeing checksums prove nothing yet: the repair file of no blocks goes back, which proves the
// files the same or finds what differs, and replaces one of an earlier exchange.
TEST_F(ScanValidFileTest, AgreeingChecksumsWriteTheProofOfNoBlocksAndSaySo) {
  const Bytes random = RandomBytes(2, 3 * kBlock + 17);
  const Bytes ones(2 * kBlock, 0x01);
  const Bytes older = RandomBytes(3, 5000);
  const struct {
    const char* name;
    Bytes valid;
    Bytes testFile;
    bool olderRepairFile;
  } cases[] = {
      {"its own test file", random, ReferenceTestFile(random), false},
      {"an older repair file stays", random, ReferenceTestFile(random), true},
      {"zero blocks against zero entries", Bytes(3 * kBlock, 0), Concat({Le32(3 * kBlock), Bytes(12, 0)}), false},
      // Every word the same: checksum 0, so the differing contents go unnoticed.
      {"checksums equal by coincidence", ones, Concat({Le32(2 * kBlock), Le32(0), Le32(0)}), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BeginAnotherRun();
    fs::remove(scratch.Path("same.fix"));
    if (c.olderRepairFile) scratch.Write("same.fix", older);
    PutInput("same.bin", c.valid);
    PutInput("same.crc", c.testFile);

    EXPECT_EQ(Scan("same.bin", "same.crc"), 0);
    ExpectIdentical();
    EXPECT_TRUE(SameBytes(ReadWholeFile(scratch.Path("same.fix")), ReferenceRepairFile(c.valid, c.testFile)));
    ExpectInputsUnchanged();
  }
}

// A test file of any length is answered, one of a copy longer than the valid file too (its
// repair cuts it); only one too short to hold a size is refused: (T - 4) / 4 in unsigned
// arithmetic would wrap to a huge count.
TEST_F(ScanValidFileTest, AnswersATestFileOfAnyLengthThatHoldsASize) {
  const struct {
    uint32_t validSize;
    uint32_t testSize;
    bool accepted;
  } cases[] = {
      {10000, 0, false}, {10000, 1, false}, {10000, 2, false}, {10000, 3, false},
      {10000, 16, true},   // E = N
      {10000, 19, true},   // E = N and three trailing bytes
      {10000, 20, true},   // E = N + 1
      {10000, 1000, true},
      {4096, 8, true},     {4096, 11, true}, {4096, 12, true},
      {1, 8, true},        {1, 12, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.validSize << " / " << c.testSize);
    BeginAnotherRun();
    fs::remove(scratch.Path("sized.fix"));
    const Bytes valid = RandomBytes(c.validSize, c.validSize);
    const Bytes testFile = RandomBytes(c.testSize + 100, c.testSize);
    PutInput("sized.bin", valid);
    PutInput("sized.crc", testFile);

    const int result = Scan("sized.bin", "sized.crc");
    if (c.accepted) {
      EXPECT_EQ(result, 1);
      EXPECT_TRUE(SameBytes(ReadWholeFile(scratch.Path("sized.fix")), ReferenceRepairFile(valid, testFile)));
    } else {
      EXPECT_EQ(result, 0);
      ExpectSizeCheckRefusal();
      EXPECT_FALSE(scratch.Exists("sized.fix"));
    }
    ExpectInputsUnchanged();
  }
}

// Seven blocks: three random, one random, one zero, one whose checksum is 0 although its
// bytes are not, and a random partial one. Blocks without an entry are compared with 0.
Bytes SevenBlocks() {
  return Concat({RandomBytes(21, 4 * kBlock), Bytes(kBlock, 0), Bytes(kBlock, 0x01), RandomBytes(22, 100)});
}

// Past the test file's entries the broken copy vouches for nothing: a block there travels
// when the size field says the copy has bytes in it (a test file cut short), and otherwise
// unless the valid file holds only zeros in it, even when its checksum is the entry's 0.
TEST_F(ScanValidFileTest, BlocksPastTheEntriesTravelUnlessTheyHoldOnlyZeros) {
  const Bytes valid = SevenBlocks();
  const Bytes firstThree(valid.begin(), valid.begin() + 3 * kBlock);
  const struct {
    const char* name;
    Bytes testFile;
    std::vector<uint32_t> carried;
  } cases[] = {
      {"4-byte test file", Le32(0x12345678), {1, 2, 3, 4, 5, 6, 7}},
      {"5-byte test file", Concat({Le32(0x12345678), Bytes(1, 0)}), {1, 2, 3, 4, 5, 6, 7}},
      {"6-byte test file", Concat({Le32(0), Bytes(2, 0)}), {1, 2, 3, 4, 6, 7}},
      {"7-byte test file", Concat({Le32(1), Bytes(3, 0)}), {1, 2, 3, 4, 6, 7}},
      {"entries for the first three blocks", ReferenceTestFile(firstThree), {4, 6, 7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BeginAnotherRun();
    PutInput("short.bin", valid);
    PutInput("short.crc", c.testFile);

    EXPECT_EQ(Scan("short.bin", "short.crc"), 1);
    const Bytes fix = ReadWholeFile(scratch.Path("short.fix"));
    EXPECT_TRUE(SameBytes(WithoutPart(fix), RepairFileCarrying(valid, c.carried)));
    EXPECT_TRUE(SameBytes(fix, ReferenceRepairFile(valid, c.testFile)));
    ExpectInputsUnchanged();
  }
}

// A test file of 4 + 4 * E + r bytes: the r trailing bytes are the low bytes of the entry for
// block E + 1, whose other bytes are 0. That block lies past the entries and past the one
// block the size field gives the copy, so an all-zero block travels exactly when those bytes
// are not all zero.
TEST_F(ScanValidFileTest, TrailingBytesAreTheLowBytesOfTheNextEntry) {
  for (uint32_t r = 1; r <= 3; ++r) {
    for (const bool trailingZero : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "r = " << r << (trailingZero ? ", zero bytes" : ", a byte not zero"));
      BeginAnotherRun();
      Bytes trailing(r, 0);
      if (!trailingZero) trailing[r - 1] = 0xC3;
      const Bytes valid = Concat({RandomBytes(31, kBlock), Bytes(kBlock, 0), RandomBytes(32, kBlock)});
      const Bytes testFile = Concat({Le32(kBlock), Le32(ReferenceChecksum(valid, 0)), trailing});
      PutInput("tail.bin", valid);
      PutInput("tail.crc", testFile);

      EXPECT_EQ(Scan("tail.bin", "tail.crc"), 1);
      const std::vector<uint32_t> carried = trailingZero ? std::vector<uint32_t>{3} : std::vector<uint32_t>{2, 3};
      EXPECT_TRUE(SameBytes(WithoutPart(ReadWholeFile(scratch.Path("tail.fix"))), RepairFileCarrying(valid, carried)));
      EXPECT_TRUE(SameBytes(ReadWholeFile(scratch.Path("tail.fix")), ReferenceRepairFile(valid, testFile)));
      ExpectInputsUnchanged();
    }
  }
}

// The size field says how much of the broken copy the entries stand for: two test files that
// differ only there may give different repair files.
TEST_F(ScanValidFileTest, TheTestFilesSizeFieldBoundsWhatItsEntriesVouchFor) {
  const Bytes valid = RandomBytes(41, 5 * kBlock + 9);
  Bytes broken = valid;
  broken[2 * kBlock + 5] ^= 0x80;
  broken[4 * kBlock] ^= 0x01;
  const Bytes entries = [&] {
    const Bytes testFile = ReferenceTestFile(broken);
    return Bytes(testFile.begin() + 4, testFile.end());
  }();
  const uint32_t size = static_cast<uint32_t>(valid.size());
  const struct {
    uint32_t sizeField;
    std::vector<uint32_t> carried;
  } cases[] = {
      {size, {3, 5}},
      // Longer than the entries reach: they still vouch for their blocks only, all of them.
      {0xFFFFFFFEu, {3, 5}},
      // The last block's 9 bytes are not vouched for.
      {size - 9, {3, 5, 6}},
      {5 * kBlock - 1, {3, 5, 6}},
      // Nothing is: every block holding a byte that is not zero travels.
      {0, {1, 2, 3, 4, 5, 6}},
      {1, {1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sizeField);
    BeginAnotherRun();
    PutInput("field.bin", valid);
    PutInput("field.crc", Concat({Le32(c.sizeField), entries}));
    EXPECT_EQ(Scan("field.bin", "field.crc"), 1);
    const Bytes fix = ReadWholeFile(scratch.Path("field.fix"));
    EXPECT_TRUE(SameBytes(WithoutPart(fix), RepairFileCarrying(valid, c.carried)));
    EXPECT_TRUE(SameBytes(fix, ReferenceRepairFile(valid, Concat({Le32(c.sizeField), entries}))));
  }
}

// Nothing damaged, but the test file describes a copy of another length or covers fewer
// blocks: the 8-byte repair file (S, 0) sets the broken file's length, and nothing is
// reported identical.
TEST_F(ScanValidFileTest, LengthsThatDifferGiveARepairFileWithoutBlocks) {
  const Bytes zeros(3 * kBlock, 0);
  // Ends in zero bytes, so a copy one byte shorter lacks nothing but a zero.
  const Bytes random = Concat({RandomBytes(42, 2 * kBlock), Bytes(100, 0)});
  const Bytes randomTestFile = ReferenceTestFile(random);
  const struct {
    const char* name;
    Bytes valid;
    Bytes testFile;
  } cases[] = {
      {"zero blocks against an empty copy's test file", zeros, Le32(0)},
      {"zero blocks of a shorter copy", zeros, ReferenceTestFile(Bytes(kBlock + 1, 0))},
      {"a copy 8 bytes longer", random, Concat({Le32(2 * kBlock + 108), Part(randomTestFile, 4, randomTestFile.size())})},
      {"a size field one byte short", random, Concat({Le32(2 * kBlock + 99), Part(randomTestFile, 4, randomTestFile.size())})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BeginAnotherRun();
    scratch.Write("sized.fix", RandomBytes(43, 9000));
    PutInput("sized.bin", c.valid);
    PutInput("sized.crc", c.testFile);

    EXPECT_EQ(Scan("sized.bin", "sized.crc"), 1);
    const Bytes fix = ReadWholeFile(scratch.Path("sized.fix"));
    EXPECT_TRUE(SameBytes(WithoutPart(fix), Concat({Le32(static_cast<uint32_t>(c.valid.size())), Le32(0)})));
    EXPECT_TRUE(SameBytes(fix, ReferenceRepairFile(c.valid, c.testFile)));
    ExpectInputsUnchanged();
  }
}

TEST_F(ScanValidFileTest, AnEmptyValidFileFailsAtItsImage) {
  for (const uint32_t testSize : {0u, 4u}) {
    SCOPED_TRACE(testSize);
    BeginAnotherRun();
    PutInput("empty.bin", {});
    PutInput("empty.crc", Bytes(testSize, 0));

    EXPECT_EQ(Scan("empty.bin", "empty.crc"), 0);
    EXPECT_FALSE(scratch.Exists("empty.fix"));
    ExpectInputsUnchanged();
    // The body is whatever the platform says about a request for 0 bytes.
    Memory none;
    const SystemError refused = CommitMemory(0, &none);
    ASSERT_TRUE(refused);
    ExpectStop(Step::AllocateValid, refused.code);
  }
}

// The scan only reads its inputs: a read-only valid file or test file (a disc, a share) is
// answered.
TEST_F(ScanValidFileTest, ReadOnlyInputsAreAnswered) {
  for (const char* readOnly : {"locked.bin", "locked.crc"}) {
    SCOPED_TRACE(readOnly);
    BeginAnotherRun();
    ScratchFolder folder;
    const Bytes valid = RandomBytes(61, 9000);
    folder.Write("locked.bin", valid);
    folder.Write("locked.crc", Le32(9000));
    folder.MakeReadOnly(readOnly);

    EXPECT_EQ(Scan(folder.Path("locked.bin"), folder.Path("locked.crc"), folder.path()), 1);
    EXPECT_TRUE(SameBytes(folder.Read("locked.fix"), ReferenceRepairFile(valid, Le32(9000))));
    EXPECT_TRUE(SameBytes(folder.Read("locked.bin"), valid));
    EXPECT_TRUE(SameBytes(folder.Read("locked.crc"), Le32(9000)));
  }
}

// Without a dot in the valid file's path there is no output name; nothing may be created or
// replaced at the output folder's own path, whatever it names.
TEST_F(ScanValidFileTest, AValidFileNameWithoutAStemWritesNothing) {
  ASSERT_EQ(scratch.path().find('.'), std::string::npos) << "the scratch path itself must hold no dot";
  const Bytes notes = RandomBytes(71, 300);
  PutInput("README", RandomBytes(72, 5000));
  PutInput("README.crc", Le32(5000));
  PutInput("notes", notes);
  const std::set<std::string> before = {"README", "README.crc", "notes"};
  for (const char* folder : {"", "notes", "missing"}) {
    SCOPED_TRACE(folder);
    BeginAnotherRun();
    const std::string output = *folder == '\0' ? scratch.path() : scratch.Path(folder);
    EXPECT_EQ(Scan(scratch.Path("README"), scratch.Path("README.crc"), output), 0);
    ExpectStop(Step::CreateOutput, SystemErrorKind::InvalidName);
    std::set<std::string> after;
    for (const auto& entry : fs::directory_iterator(scratch.path())) after.insert(entry.path().filename().string());
    EXPECT_EQ(after, before);
    ExpectInputsUnchanged();
  }
}

TEST_F(ScanValidFileTest, TheRepairFileIsNamedAfterTheValidFileInTheOutputFolder) {
  fs::create_directory(scratch.Path("data"));
  fs::create_directory(scratch.Path("out"));
  const std::string data = std::string("data") + kPathSeparator;
  const std::string out = std::string("out") + kPathSeparator;
  const Bytes valid = RandomBytes(81, 2 * kBlock + 1);
  const Bytes expected = RepairFileCarrying(valid, {1, 2, 3});
  const struct {
    const char* valid;
    const char* repair;
    bool older;
  } cases[] = {
      {"movie.avi", "movie.fix", false},
      {"movie.avi", "movie.fix", true},  // replaced by a shorter file
      {"archive.tar.gz", "archive.tar.fix", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.valid);
    BeginAnotherRun();
    for (const auto& entry : fs::directory_iterator(scratch.Path("out"))) fs::remove(entry.path());
    if (c.older) scratch.Write(out + c.repair, RandomBytes(82, 20000));
    PutInput(data + c.valid, valid);
    PutInput(data + "test.crc", Le32(0));

    EXPECT_EQ(Scan(scratch.Path(data + c.valid), scratch.Path(data + "test.crc"), scratch.Path("out")), 1);
    EXPECT_TRUE(SameBytes(WithoutPart(ReadWholeFile(scratch.Path(out + c.repair))), expected));
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.Path("out")), fs::directory_iterator()), 1);
    EXPECT_FALSE(scratch.Exists(data + c.repair));
    ExpectInputsUnchanged();
  }
}

// Damages a copy of the valid file: its length changed (cut, or grown within the last block),
// then single bytes flipped in a few blocks and a few blocks zeroed. Returns the numbers of
// the valid file's blocks whose zero-padded contents now differ.
std::vector<uint32_t> Damage(const Bytes& valid, Bytes& broken, std::mt19937& random) {
  broken = valid;
  const uint32_t blocks = Blocks(valid.size());
  const auto pick = [&](uint64_t bound) { return bound == 0 ? 0 : static_cast<size_t>(random() % bound); };
  switch (random() % 3) {
    case 1:
      broken.resize(pick(valid.size()));
      break;
    case 2:
      // Grown bytes are never 0, so the last block surely changes.
      for (size_t extra = pick(size_t{blocks} * kBlock - valid.size() + 1); extra > 0; --extra) {
        broken.push_back(static_cast<uint8_t>(1 + random() % 255));
      }
      break;
  }
  // One flip per block at most: two flips in one block can cancel in its checksum.
  std::set<uint32_t> flipped;
  for (int i = static_cast<int>(pick(4)); i > 0 && !broken.empty(); --i) {
    const size_t at = pick(broken.size());
    if (!flipped.insert(static_cast<uint32_t>(at / kBlock)).second) continue;
    broken[at] ^= static_cast<uint8_t>(1 + random() % 255);
  }
  for (int i = static_cast<int>(pick(3)); i > 0 && !broken.empty(); --i) {
    const size_t start = pick(Blocks(broken.size())) * kBlock;
    std::fill(broken.begin() + static_cast<std::ptrdiff_t>(start),
              broken.begin() + static_cast<std::ptrdiff_t>(std::min(start + kBlock, broken.size())), 0);
  }
  std::vector<uint32_t> damaged;
  for (uint32_t b = 1; b <= blocks; ++b) {
    if (BlockOf(valid, b) != BlockOf(broken, b)) damaged.push_back(b);
  }
  return damaged;
}

// Both scans end to end: the broken-file scan of a damaged copy, then the valid-file scan of
// its test file, checked against the damage made and against the reference model.
TEST_F(ScanValidFileTest, RoundTripCarriesExactlyTheDamagedBlocks) {
  const uint32_t sizes[] = {1,    3,    4,    5,    4095,           4096,           4097,
                            8191, 8192, 8193, 12289, 2 * 1048576 + 1234, 3 * 1048576};
  uint32_t seed = 100;
  int identical = 0;
  int written = 0;
  for (const uint32_t size : sizes) {
    for (int trial = 0; trial < (size > 1048576 ? 1 : 5); ++trial) {
      SCOPED_TRACE(::testing::Message() << "size " << size << ", seed " << seed);
      BeginAnotherRun();
      std::mt19937 random(seed);
      const Bytes valid = RandomBytes(seed++, size);
      Bytes broken;
      const std::vector<uint32_t> damaged = Damage(valid, broken, random);
      scratch.Write("valid.bin", valid);
      scratch.Write("broken.bin", broken);
      fs::remove(scratch.Path("valid.fix"));

      ASSERT_EQ(StreamScanBrokenFile(scratch.Path("broken.bin").c_str(), scratch.path().c_str(), {}).ending, Ending::Done);
      const Bytes testFile = ReadWholeFile(scratch.Path("broken.crc"));
      const int result = Scan("valid.bin", "broken.crc");
      EXPECT_TRUE(SameBytes(ReadWholeFile(scratch.Path("valid.bin")), valid));
      EXPECT_TRUE(SameBytes(ReadWholeFile(scratch.Path("broken.crc")), testFile));

      // Equal block for block and in length; a copy that differs only in length gets a
      // repair file without blocks.
      if (damaged.empty() && broken.size() == valid.size()) {
        ++identical;
        EXPECT_EQ(result, 0);
        ExpectIdentical();
        EXPECT_TRUE(ReferenceChecksumsMatch(valid, testFile));
        EXPECT_TRUE(SameBytes(ReadWholeFile(scratch.Path("valid.fix")), ReferenceRepairFile(valid, testFile)));
        continue;
      }
      ++written;
      ASSERT_EQ(result, 1);
      const Bytes fix = ReadWholeFile(scratch.Path("valid.fix"));
      const RepairFields actual = FieldsOf(fix);
      const RepairFields reference = FieldsOf(ReferenceRepairFile(valid, testFile));
      EXPECT_EQ(actual.validSize, size);
      EXPECT_EQ(actual.count, damaged.size());
      EXPECT_EQ(actual.numbers, damaged);
      EXPECT_EQ(actual.validSize, reference.validSize);
      EXPECT_EQ(actual.count, reference.count);
      EXPECT_EQ(actual.numbers, reference.numbers);
      for (size_t j = 0; j < actual.blocks.size() && j < damaged.size(); ++j) {
        EXPECT_TRUE(SameBytes(actual.blocks[j], BlockOf(valid, damaged[j]))) << "entry " << j;
        if (j < reference.blocks.size()) {
          EXPECT_TRUE(SameBytes(actual.blocks[j], reference.blocks[j])) << "entry " << j;
        }
      }
      // Applied to the broken copy, the repair file gives back the valid file (the model
      // trusts the block numbers, so only once they are right).
      if (actual.numbers == damaged) {
        EXPECT_TRUE(SameBytes(ReferenceRepairedFile(broken, fix), valid));
      }
    }
  }
  // The seeds give both outcomes, so neither branch goes untested.
  EXPECT_GT(identical, 0);
  EXPECT_GT(written, 20);
}

}  // namespace
