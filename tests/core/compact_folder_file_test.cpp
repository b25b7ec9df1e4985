// The compact folder test file's keys, values and layout, and the folder's asking repair file:
// what a reader takes and what it refuses, field by field.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "core/byte_order.h"
#include "core/compact_folder_file.h"

namespace {

TEST(CompactFolderFileTest, KeysFoldLetterCaseAsNtfsDoesAndKeepTheirKind) {
  // Equal ignoring case (Cyrillic and Latin alike), and not for other names.
  EXPECT_EQ(FoldedPathHash("Docs/A.txt"), FoldedPathHash("docs/a.TXT"));
  EXPECT_EQ(FoldedPathHash("\xD0\x97\xD0\xB8\xD0\xBC\xD0\xB0"), FoldedPathHash("\xD0\xB7\xD0\x98\xD0\x9C\xD0\x90"));
  EXPECT_NE(FoldedPathHash("docs/a.txt"), FoldedPathHash("docs/b.txt"));
  EXPECT_NE(FoldedPathHash("ab/c"), FoldedPathHash("a/bc"));
  for (const FolderElement kind : {FolderElement::Entry, FolderElement::Spelling, FolderElement::Fingerprint, FolderElement::Block}) {
    for (const uint64_t number : {uint64_t{0}, uint64_t{1}, uint64_t{0xFFFFFFFF}}) {
      const uint64_t key = FolderElementKey(kind, FoldedPathHash("x"), number);
      EXPECT_NE(key, 0u);
      EXPECT_LT(key, kFieldPrime);
      EXPECT_EQ(KindOfKey(key), kind);
    }
  }
  EXPECT_NE(FolderElementKey(FolderElement::Block, 7, 1), FolderElementKey(FolderElement::Block, 7, 2));
}

TEST(CompactFolderFileTest, EntryValuesRoundTripAndOthersAreRefused) {
  const EntryValue values[] = {{1, 0, 0}, {2, 0, 0}, {2, 0, 123456789}, {3, 1, 0}, {3, 3, 0}};
  for (const EntryValue& value : values) {
    EntryValue read;
    ASSERT_TRUE(LoadEntryValue(StoreEntryValue(value), &read));
    EXPECT_EQ(read.kind, value.kind);
    EXPECT_EQ(read.reason, value.reason);
    EXPECT_EQ(read.size, value.size);
  }
  EntryValue read;
  for (const uint64_t bad : {uint64_t{0}, uint64_t{5}, uint64_t{7}, kFileValueBase + (uint64_t{1} << 60) + 1}) {
    EXPECT_FALSE(LoadEntryValue(bad, &read)) << bad;
  }
}

Sketch MadeSketch(uint32_t symbols) {
  Sketch sketch(symbols);
  for (uint64_t n = 1; n <= 20; ++n) sketch.Add(FolderElementKey(FolderElement::Block, 99, n), 1000 + n);
  return sketch;
}

TEST(CompactFolderFileTest, TheFileRoundTripsAndAnyFieldOutOfItsRangeIsRefused) {
  const CompactFolderHeader header{1, 100000, 125};
  const std::vector<uint8_t> bytes = StoreCompactFolderTestFile(header, MadeSketch(125));
  ASSERT_EQ(bytes.size(), 4080u);
  ASSERT_EQ(bytes.size(), CompactFolderLength(125));
  CompactFolderHeader read;
  std::optional<Sketch> sketch;
  ASSERT_TRUE(ReadCompactFolderTestFile(bytes.data(), bytes.size(), &read, &sketch));
  EXPECT_EQ(read.flags, 1u);
  EXPECT_EQ(read.plainLength, 100000u);
  EXPECT_TRUE(sketch->Symbols() == MadeSketch(125).Symbols());
  EXPECT_TRUE(sketch->Cells() == MadeSketch(125).Cells());
  // The elements walked side by side make the same sketch as one by one, a zero value nothing.
  std::vector<uint64_t> keys, values;
  for (uint64_t n = 0; n <= 20; ++n) {
    keys.push_back(FolderElementKey(FolderElement::Block, 99, n == 0 ? 5 : n));
    values.push_back(n == 0 ? 0 : 1000 + n);
  }
  Sketch batched(125);
  batched.AddElements(keys.data(), values.data(), keys.size());
  EXPECT_TRUE(batched.Symbols() == MadeSketch(125).Symbols());
  EXPECT_TRUE(batched.Cells() == MadeSketch(125).Cells());
  batched.SubtractElements(keys.data(), values.data(), keys.size());
  EXPECT_TRUE(batched.Symbols() == Sketch(125).Symbols());

  struct Change {
    const char* what;
    size_t at;
    uint64_t value;
    uint32_t bytes;
  };
  const Change changes[] = {{"tag", 8, 0x4E, 1},          {"version", 12, 2, 4},
                            {"plain form shorter", 20, 4079, 8}, {"no symbols", 28, 0, 4},
                            {"more symbols", 28, 126, 4},  {"levels", 32, 31, 4},
                            {"cells", 36, 15, 4},          {"symbol not below p", 1064, kFieldPrime, 8},
                            {"check", 4079, 0, 1}};
  for (const Change& change : changes) {
    std::vector<uint8_t> changed = bytes;
    if (change.bytes == 1) changed[change.at] = static_cast<uint8_t>(change.value);
    if (change.bytes == 4) StoreU32LE(changed.data() + change.at, static_cast<uint32_t>(change.value));
    if (change.bytes == 8) StoreU64LE(changed.data() + change.at, change.value);
    // The check taken again, so that each field is what refuses it.
    if (change.at < changed.size() - kHash128Bytes) {
      StoreHash128(changed.data() + changed.size() - kHash128Bytes, Xxh3Hash128(changed.data(), changed.size() - kHash128Bytes));
    }
    EXPECT_FALSE(ReadCompactFolderTestFile(changed.data(), changed.size(), &read, &sketch)) << change.what;
    EXPECT_FALSE(sketch.has_value()) << change.what;
  }
  EXPECT_FALSE(ReadCompactFolderTestFile(bytes.data(), bytes.size() - 1, &read, &sketch));
}

TEST(CompactFolderFileTest, TheRequestHoldsOnlyLengthsAFolderCanHave) {
  const uint64_t plain = 100000;
  AskingRepairFile asked{plain, CompactFolderLength(125), Hash128{1, 2}, 300, 0};
  asked.askedLength = FolderAskedLength(plain, asked.answeredLength, 300, 120);
  // 1.35 times the symbols 300 differences need, and at least 1.5 times those answered.
  EXPECT_EQ(asked.askedLength, CompactFolderLength(static_cast<uint32_t>(std::ceil(1.35 * SymbolsToDecode(300)))));
  EXPECT_EQ(FolderAskedLength(plain, asked.answeredLength, 1, 0), CompactFolderLength(188));
  EXPECT_EQ(FolderAskedLength(5000, asked.answeredLength, 300, 0), 5000u) << "the plain form, where it is shorter";
  EXPECT_EQ(FolderAskedLength(4080, 4080, 300, 0), 0u) << "nothing larger to ask for";

  uint8_t bytes[kAskingRepairFileBytes];
  StoreFolderAskingFile(bytes, asked);
  AskingRepairFile read;
  ASSERT_TRUE(ReadFolderAskingFile(bytes, sizeof bytes, &read));
  EXPECT_EQ(read.askedLength, asked.askedLength);
  EXPECT_EQ(read.answeredCheck, asked.answeredCheck);
  EXPECT_FALSE(ReadAskingRepairFile(bytes, sizeof bytes, &read)) << "a single file's reader refuses it by its tag";

  struct Case {
    const char* what;
    uint64_t answered;
    uint64_t asking;
    bool holds;
  };
  const Case cases[] = {{"the plain form", CompactFolderLength(125), plain, true},
                        {"no more than answered", CompactFolderLength(125), CompactFolderLength(125), false},
                        {"not a compact length", CompactFolderLength(125), CompactFolderLength(200) + 1, false},
                        {"beyond the plain form", CompactFolderLength(125), plain + 24, false},
                        {"answered not compact", CompactFolderLength(125) - 1, plain, false},
                        {"answered above the plain form", plain + 1, plain + 2, false}};
  for (const Case& c : cases) {
    AskingRepairFile file = asked;
    file.answeredLength = c.answered;
    file.askedLength = c.asking;
    StoreFolderAskingFile(bytes, file);
    EXPECT_EQ(ReadFolderAskingFile(bytes, sizeof bytes, &read), c.holds) << c.what;
  }
  StoreFolderAskingFile(bytes, asked);
  bytes[70] ^= 1;
  EXPECT_FALSE(ReadFolderAskingFile(bytes, sizeof bytes, &read)) << "the check";
}

}  // namespace
