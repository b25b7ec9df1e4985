// Fuzzing the readers of the compact folder test file and the folder's asking repair file, and
// the decoder behind the first, against a small valid folder of fixed elements (eight files of
// one to eight blocks: each an entry, a spelling, a fingerprint and its blocks).
//
// Input: a first byte, whose low bit chooses the form, then:
//   even: the bytes are read as they are, as a compact folder test file and as a request;
//   odd:  a byte m - 1, a byte K, K records (u8 file, u8 element, u8 block, u32 value) changing
//         the broken copy's elements, then records (u16 offset, u8 mask) XORed into its compact
//         test file of m symbols, which is sealed again so that the reader gets to its symbols
//         and the decoder to hostile ones.
// After every call: a file read is written back byte for byte; at most m differences, each of a
// key of an element's kind; from a file nobody changed, a decoded sketch gives exactly the
// changed elements; a request made for a sketch that did not decode reads back.
// The seeds in fuzz/corpus/compact_folder are one of each form, with and without damage.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/byte_order.h"
#include "core/compact_folder_file.h"
#include "core/sketch.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint32_t kFiles = 8;
constexpr uint64_t kPlainLength = 1 << 20;

// The valid folder's elements, key to value.
const std::map<uint64_t, uint64_t>& ValidElements() {
  static const std::map<uint64_t, uint64_t> elements = [] {
    std::map<uint64_t, uint64_t> made;
    for (uint32_t f = 0; f < kFiles; ++f) {
      const std::string path = "dir/file" + std::to_string(f) + ".bin";
      const uint64_t hash = FoldedPathHash(path);
      made[FolderElementKey(FolderElement::Entry, hash, 0)] = StoreEntryValue({2, 0, 4096 * (f + 1)});
      made[FolderElementKey(FolderElement::Spelling, hash, 0)] = NameValue(path.substr(4));
      made[FolderElementKey(FolderElement::Fingerprint, hash, 0)] = HashValue(f * 0x9E3779B97F4A7C15u + 1);
      for (uint32_t b = 1; b <= f + 1; ++b) made[FolderElementKey(FolderElement::Block, hash, b)] = (f * 16 + b) * 2654435761u;
    }
    return made;
  }();
  return elements;
}

bool MayOccur(uint64_t key) {
  const FolderElement kind = KindOfKey(key);
  return kind >= FolderElement::Entry && kind <= FolderElement::Block;
}

void ReadAndDecode(const Bytes& file, const std::map<uint64_t, uint64_t>* changed) {
  CompactFolderHeader header;
  std::optional<Sketch> sketch;
  if (!ReadCompactFolderTestFile(file.data(), file.size(), &header, &sketch)) return;
  Require(StoreCompactFolderTestFile(header, *sketch) == file, "a file read is not written back byte for byte");
  for (const auto& [key, value] : ValidElements()) sketch->Subtract(key, value);
  const std::vector<CodedSymbol> left = sketch->Symbols();
  std::vector<SketchDifference> found;
  const DecodeVerdict verdict = DecodeDifferences(sketch->Symbols(), MayOccur, &found);
  Require(found.size() <= header.symbols, "more differences than symbols");
  for (const SketchDifference& difference : found) Require(MayOccur(difference.key), "a key of no element's kind");
  if (verdict == DecodeVerdict::Decoded && changed != nullptr) {
    Require(found.size() == changed->size(), "a decoded sketch missed a changed element");
    for (const SketchDifference& difference : found) {
      Require(changed->count(difference.key) == 1 && changed->at(difference.key) == difference.delta, "a wrong difference");
    }
  }
  if (verdict == DecodeVerdict::NotDecoded) {
    const double estimate = EstimateDifferences(sketch->Cells(), left);
    const uint64_t asked = FolderAskedLength(header.plainLength, file.size(), estimate, found.size());
    if (asked == 0) return;
    uint8_t request[kAskingRepairFileBytes];
    StoreFolderAskingFile(request, {header.plainLength, file.size(), LoadHash128(file.data() + file.size() - 16), 1, asked});
    AskingRepairFile read;
    Require(ReadFolderAskingFile(request, sizeof request, &read), "a request as written does not read");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 16384) return -1;
  Bytes input(data + 1, data + size);
  if ((data[0] & 1) == 0) {
    AskingRepairFile asking;
    if (ReadFolderAskingFile(input.data(), input.size(), &asking)) {
      Require(asking.askedLength > asking.answeredLength && asking.answeredLength <= asking.brokenSize, "a request out of range");
    }
    ReadAndDecode(input, nullptr);
    return 0;
  }
  if (input.size() < 2) return -1;
  const uint32_t symbols = input[0] + 1u;
  size_t at = 2;
  std::map<uint64_t, uint64_t> broken = ValidElements();
  for (uint32_t k = 0; k < input[1] && at + 7 <= input.size(); ++k, at += 7) {
    const uint32_t file = input[at] % kFiles;
    const auto kind = static_cast<FolderElement>(1 + input[at + 1] % 4);
    const uint64_t number = kind == FolderElement::Block ? 1 + input[at + 2] % 12 : 0;
    const uint64_t key = FolderElementKey(kind, FoldedPathHash("dir/file" + std::to_string(file) + ".bin"), number);
    broken[key] = LoadU32LE(&input[at + 3]) % kFieldPrime;
  }
  std::map<uint64_t, uint64_t> changed;
  Sketch sketch(symbols);
  for (const auto& [key, value] : broken) {
    sketch.Add(key, value);
    const auto valid = ValidElements().find(key);
    const uint64_t before = valid == ValidElements().end() ? 0 : valid->second;
    if (value != before) changed[key] = FieldSub(value, before);
  }
  Bytes file = StoreCompactFolderTestFile({0, kPlainLength, symbols}, sketch);
  const bool edited = at + 3 <= input.size();
  for (; at + 3 <= input.size(); at += 3) file[LoadU16LE(&input[at]) % file.size()] ^= input[at + 2];
  if (edited) StoreHash128(file.data() + file.size() - 16, Xxh3Hash128(file.data(), file.size() - 16));
  ReadAndDecode(file, edited ? nullptr : &changed);
  return 0;
}
