// Fuzzing the readers of the compact test file and the asking repair file, and the decoder
// behind the first, against one small valid file (2000 blocks of fixed checksums).
//
// Input: a first byte, whose low bit chooses the form and whose other bits the size of the
// pieces the compact test file is read in, then:
//   even: the bytes are read as they are, as a compact test file and as an asking repair file;
//   odd:  a byte m - 1, a byte K, K records (u16 block, u32 checksum) damaging the valid file's
//         blocks into a broken copy, then records (u16 offset, u8 mask) XORed into the broken
//         copy's compact test file of m symbols, which is sealed again so that the reader gets
//         to its symbols and the decoder to hostile ones.
// Every compact test file read has the valid file's blocks subtracted and is decoded. After
// every call: at most m differences; from a file nobody changed, a decoded sketch gives exactly
// the damaged blocks; an asking repair file made for a sketch that did not decode reads back.
// The seeds in fuzz/corpus/compact_files are one of each form, with and without damage.
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "core/asking_repair_file.h"
#include "core/byte_order.h"
#include "core/compact_test_file.h"
#include "core/sketch.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint32_t kValidBlocks = 2000;
constexpr uint64_t kValidSize = uint64_t{kValidBlocks} * 4096;

const std::vector<uint32_t>& ValidChecksums() {
  static const std::vector<uint32_t> checksums = [] {
    std::vector<uint32_t> values(kValidBlocks);
    for (uint32_t b = 0; b < kValidBlocks; ++b) values[b] = (b + 1) * 2654435761u;
    return values;
  }();
  return checksums;
}

// Reads the file in pieces, subtracts the valid blocks and decodes; checks what is found against
// the damage when the file is the broken copy's own.
void ReadAndDecode(const Bytes& file, size_t piece, const std::map<uint64_t, uint64_t>* damage) {
  CompactTestFileReader reader;
  if (!reader.Start(file.data(), file.size())) return;
  for (size_t at = kCompactHeaderBytes; at < file.size(); at += piece) {
    if (!reader.Take(file.data() + at, std::min(piece, file.size() - at))) return;
  }
  if (!reader.Finish()) return;
  Sketch& sketch = reader.Read();
  sketch.SubtractBlocks(1, ValidChecksums().data(), kValidBlocks);
  const uint64_t blocks = (reader.Header().brokenSize + 4095) / 4096;
  std::vector<SketchDifference> found;
  const DecodeVerdict verdict = DecodeDifferences(sketch.Symbols(), [&](uint64_t key) { return key <= blocks; }, &found);
  Require(found.size() <= reader.Header().symbols, "more differences than symbols");
  if (verdict == DecodeVerdict::Decoded && damage != nullptr) {
    Require(found.size() == damage->size(), "a decoded sketch missed a damaged block");
    for (const SketchDifference& difference : found) {
      Require(damage->count(difference.key) == 1 && damage->at(difference.key) == difference.delta, "a wrong difference");
    }
  }
  if (verdict == DecodeVerdict::NotDecoded) {
    const uint64_t asked = AskedTestFileLength(reader.Header().brokenSize, file.size(), EstimateDifferences(sketch.Cells()), found.size());
    if (asked == 0) return;
    uint8_t asking[kAskingRepairFileBytes];
    StoreAskingRepairFile(asking, {reader.Header().brokenSize, file.size(), LoadHash128(file.data() + file.size() - 16), 1, asked});
    AskingRepairFile read;
    Require(ReadAskingRepairFile(asking, sizeof asking, &read), "an asking repair file as written does not read");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 16384) return -1;
  const size_t piece = (data[0] >> 1) * 13 + 1;
  Bytes input(data + 1, data + size);
  if ((data[0] & 1) == 0) {
    AskingRepairFile asking;
    ReadAskingRepairFile(input.data(), input.size(), &asking);
    ReadAndDecode(input, piece, nullptr);
    return 0;
  }
  if (input.size() < 2) return -1;
  const uint32_t symbols = input[0] + 1u;
  size_t at = 2;
  std::vector<uint32_t> broken = ValidChecksums();
  for (uint32_t k = 0; k < input[1] && at + 6 <= input.size(); ++k, at += 6) {
    broken[LoadU16LE(&input[at]) % kValidBlocks] = LoadU32LE(&input[at + 2]);
  }
  std::map<uint64_t, uint64_t> damage;
  for (uint32_t b = 0; b < kValidBlocks; ++b) {
    if (broken[b] != ValidChecksums()[b]) damage[b + 1] = FieldSub(broken[b], ValidChecksums()[b]);
  }
  // The valid blocks' sketch of m symbols, made once, changed into the broken copy's block by block.
  static std::map<uint32_t, Sketch> validSketches;
  auto made = validSketches.try_emplace(symbols, symbols);
  if (made.second) made.first->second.AddBlocks(1, ValidChecksums().data(), kValidBlocks);
  Sketch sketch = made.first->second;
  for (const auto& [block, delta] : damage) {
    sketch.Subtract(block, ValidChecksums()[block - 1]);
    sketch.Add(block, broken[block - 1]);
  }
  CompactTestFileWriter writer(kValidSize, symbols);
  Bytes file(writer.Length());
  writer.Emit(file.data(), file.size(), &sketch);
  const bool edited = at + 3 <= input.size();
  for (; at + 3 <= input.size(); at += 3) file[LoadU16LE(&input[at]) % file.size()] ^= input[at + 2];
  if (edited) StoreHash128(file.data() + file.size() - 16, Xxh3Hash128(file.data(), file.size() - 16));
  ReadAndDecode(file, piece, edited ? nullptr : &damage);
  return 0;
}
