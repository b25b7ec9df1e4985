// Fuzzing the valid-file scan with arbitrary test files against one small valid file.
//
// The valid file is made once: six blocks, the last one partial, the third all zero (so
// that a missing test entry, which reads as 0, matches it) and the fifth all 0xFF (which
// checksums to 0 as well, but must travel wherever the test file does not vouch for it).
// The input is the test file. After every call: nothing is held, both inputs are unchanged,
// and the outcome is the one an independent model predicts: the refusal of a test file too
// short to hold a size, or a repair file equal byte for byte to the expected one, the valid
// file's fingerprint (one region, hashed by the library in one call) behind its blocks, which
// copies whose checksums all match get too (as their proof, the scan ending as identical). A
// test file of a copy longer than the valid file is answered like any other. A follow-up test
// file is answered by its own rules, which this model leaves to the tests: it need only leave
// nothing held and the inputs as they were. A compact test file is refused as damaged unless
// every field and its check hold; one that holds describes a copy of over 270 blocks (it is
// never longer than the plain form), whose differences from these six blocks are answered,
// asked for in a larger test file, or refused as blocks this valid file cannot have.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/fingerprint.h"
#include "stream/operations.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kValidSize = 5 * kBlock + 1000;
constexpr uint32_t kValidBlocks = 6;
// Longer test files only add entries past the valid file's end, answered alike.
constexpr size_t kLargestInput = 4096;

// The valid file's byte at offset; fuzz/make-corpus computes the same to make its seeds.
uint8_t ValidByte(uint32_t offset) {
  if (offset / kBlock == 2) return 0;
  if (offset / kBlock == 4) return 0xFF;
  return static_cast<uint8_t>((offset * 2654435761u) >> 24);
}

const Bytes& ValidFile() {
  static const Bytes valid = [] {
    Bytes bytes(kValidSize);
    for (uint32_t offset = 0; offset < kValidSize; ++offset) bytes[offset] = ValidByte(offset);
    return bytes;
  }();
  return valid;
}

// The valid file's blocks, the last one padded with zeros, and their checksums, worked out
// once. Byte j of a checksum is the exclusive-or of the block's bytes j, j + 4, ..., j + 4092:
// another route to the same value than the engine's word-wise fold.
struct ValidModel {
  Bytes blocks;
  uint32_t checksums[kValidBlocks];
};

const ValidModel& Model() {
  static const ValidModel model = [] {
    ValidModel built;
    built.blocks = ValidFile();
    built.blocks.resize(uint64_t{kValidBlocks} * kBlock, 0);
    for (uint32_t b = 0; b < kValidBlocks; ++b) {
      uint8_t lanes[4] = {};
      for (uint32_t i = 0; i < kBlock; ++i) lanes[i % 4] ^= built.blocks[uint64_t{b} * kBlock + i];
      built.checksums[b] = lanes[0] | uint32_t{lanes[1]} << 8 | uint32_t{lanes[2]} << 16 | uint32_t{lanes[3]} << 24;
    }
    return built;
  }();
  return model;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// XXH3-128 as stored: most significant byte first.
Bytes Hash(const uint8_t* bytes, size_t count) {
  const Hash128 hash = Xxh3Hash128(bytes, count);
  Bytes out;
  for (int i = 56; i >= 0; i -= 8) out.push_back(static_cast<uint8_t>(hash.high >> i));
  for (int i = 56; i >= 0; i -= 8) out.push_back(static_cast<uint8_t>(hash.low >> i));
  return out;
}

// The test file's value for block b: its four bytes from 4 + 4 (b - 1), zero-padded, 0 past it.
uint32_t EntryOf(const Bytes& test, uint64_t b) {
  uint32_t value = 0;
  for (uint64_t i = 0; i < 4; ++i) {
    const uint64_t at = 4 + 4 * (b - 1) + i;
    if (at < test.size()) value |= uint32_t{test[at]} << (8 * i);
  }
  return value;
}

// The fingerprint part of the valid file, one region of 1 MiB, field by field: version 3, with
// the record of the broken file the test file describes, the carried blocks' numbers, and the
// test file it answers (its XXH3-128; no earlier one).
Bytes Fingerprint(const Bytes& test, uint32_t entries, const std::vector<uint32_t>& carried) {
  const uint32_t recordedSize = Le32At(test, 0);
  Bytes fields = {0x89, 'V', 'F', 'P', '\r', '\n', 0x1A, '\n'};
  for (const uint32_t word : {3u, 0u, 1u << 20, 0u, kValidSize, 0u, 1u, 1u}) AppendLe32(fields, word);
  const Bytes whole = Hash(ValidFile().data(), ValidFile().size());
  fields = Concat(fields, whole);
  for (const uint32_t word : {recordedSize, 0u, entries, 1u, static_cast<uint32_t>(carried.size())}) AppendLe32(fields, word);
  // The sample: up to 64 of the first C blocks both files have, spread evenly; a sample due at
  // a carried block is taken by the next one not carried, which stands for every sample due by then.
  uint64_t candidates = std::min<uint64_t>({entries, (uint64_t{recordedSize} + kBlock - 1) / kBlock, kValidBlocks});
  if (recordedSize > kValidSize) candidates = std::min<uint64_t>(candidates, kValidSize / kBlock);
  const uint64_t most = std::min<uint64_t>(candidates, 64);
  Bytes samples;
  uint32_t sampled = 0;
  uint64_t after = 0;
  const auto travels = [&carried](uint64_t b) { return std::find(carried.begin(), carried.end(), b) != carried.end(); };
  for (uint64_t i = 0; i < most; ++i) {
    uint64_t j = i * candidates / most;
    if (j < after) continue;
    while (j < candidates && travels(j + 1)) ++j;
    if (j >= candidates) break;
    AppendLe32(samples, static_cast<uint32_t>(j + 1));
    AppendLe32(samples, EntryOf(test, j + 1));
    ++sampled;
    after = j + 1;
  }
  AppendLe32(fields, sampled);
  fields = Concat(fields, Hash(test.data(), test.size()));
  fields = Concat(fields, Bytes(16, 0));
  fields = Concat(fields, whole);
  for (const uint32_t b : carried) AppendLe32(fields, EntryOf(test, b));
  fields = Concat(fields, samples);
  return Concat(fields, Hash(fields.data(), fields.size()));
}

// The repair file the scan must write; identical says whether the scan reports the checksums
// all matching (nothing carried, the same size and every entry), for which it is the proof.
// A block travels when its checksum differs from its entry, when it has no entry but the
// broken copy has bytes in it (it starts below the recorded size), or when it holds a byte
// that is not zero where the test file does not vouch for the broken copy: from min(recorded
// size, 4096 x entries) on.
Bytes ExpectedRepairFile(const Bytes& test, uint32_t entries, bool* identical) {
  const ValidModel& model = Model();
  const uint64_t recordedSize = Le32At(test, 0);
  const uint64_t vouched = std::min<uint64_t>(recordedSize, uint64_t{kBlock} * entries);
  Bytes numbers;
  Bytes blocks;
  std::vector<uint32_t> carried;
  uint32_t count = 0;
  for (uint32_t b = 1; b <= kValidBlocks; ++b) {
    bool damaged = model.checksums[b - 1] != Le32At(test, 4 + 4 * (b - 1));
    damaged = damaged || (b > entries && uint64_t{b - 1} * kBlock < std::min<uint64_t>(recordedSize, kValidSize));
    for (uint64_t i = std::max<uint64_t>(vouched, uint64_t{b - 1} * kBlock); i < std::min<uint64_t>(uint64_t{b} * kBlock, kValidSize); ++i) {
      damaged = damaged || ValidFile()[i] != 0;
    }
    if (!damaged) continue;
    AppendLe32(numbers, b);
    carried.push_back(b);
    const auto block = model.blocks.begin() + uint64_t{b - 1} * kBlock;
    blocks.insert(blocks.end(), block, block + kBlock);
    ++count;
  }
  *identical = count == 0 && recordedSize == kValidSize && entries == kValidBlocks;
  Bytes file;
  AppendLe32(file, kValidSize);
  AppendLe32(file, count);
  file.insert(file.end(), numbers.begin(), numbers.end());
  file.insert(file.end(), blocks.begin(), blocks.end());
  return Concat(file, Fingerprint(test, entries, carried));
}

// Whether a file tagged as a compact test file holds together, field by field from its layout:
// its length is the header's, the estimator's shape, m from 1, B not above the largest size,
// not longer than the plain form of B, every symbol field below 2^61 - 1, and the check.
bool CompactTestFileHolds(const Bytes& test) {
  if (test.size() < 1076 + 24 || (test.size() - 1076) % 24 != 0) return false;
  const uint64_t symbols = Le32At(test, 24);
  const uint64_t brokenSize = Le32At(test, 16) | uint64_t{Le32At(test, 20)} << 32;
  const uint64_t brokenBlocks = (brokenSize + kBlock - 1) / kBlock;
  const uint64_t plainLength = (brokenSize >= (uint64_t{1} << 32) ? 12 : 4) + 4 * brokenBlocks;
  if (Le32At(test, 12) != 1 || symbols == 0 || test.size() != 1076 + 24 * symbols || Le32At(test, 28) != 32 ||
      Le32At(test, 32) != 16 || brokenSize > uint64_t{0xFFFFFFFF} * kBlock || test.size() > plainLength) {
    return false;
  }
  for (size_t at = 1060; at < test.size() - 16; at += 8) {
    if ((Le32At(test, at) | uint64_t{Le32At(test, at + 4)} << 32) >= (uint64_t{1} << 61) - 1) return false;
  }
  return Hash(test.data(), test.size() - 16) == Bytes(test.end() - 16, test.end());
}

// What any repair file this scan writes must look like, whatever its blocks hold: its blocks,
// then the fingerprint part of 112 + 16 + 16 bytes and 4 per block and 8 per sample (up to 64).
void RequireRepairFileShape(const Bytes& fix) {
  Require(fix.size() >= 8, "the repair file is shorter than its count");
  const uint32_t count = Le32At(fix, 4);
  Require(count <= kValidBlocks && fix.size() >= 8 + 4104 * uint64_t{count} + 144,
          "the repair file's count does not match its length or the valid file");
  const uint64_t samples = fix.size() - 8 - 4104 * uint64_t{count} - 144;
  Require(samples % 8 == 0 && samples / 8 <= 64, "the repair file's length is not its blocks and the fingerprint");
  Require(Le32At(fix, 0) == kValidSize, "the repair file does not record the valid size");
  uint32_t previous = 0;
  for (uint32_t j = 0; j < count; ++j) {
    const uint32_t number = Le32At(fix, 8 + 4 * j);
    Require(number > previous && number <= kValidBlocks, "the block numbers are not ascending within 1..N");
    previous = number;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Model();
  WriteFileBytes(ScratchPath("valid.bin"), ValidFile().data(), ValidFile().size());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kLargestInput) return -1;
  static const std::string validPath = ScratchPath("valid.bin");
  static const std::string testPath = ScratchPath("test.crc");
  static const std::string fixPath = ScratchPath("valid.fix");
  static const std::string folder = fixPath.substr(0, fixPath.rfind('/'));
  const Bytes test(data, data + size);
  WriteFileBytes(testPath, data, size);
  RemoveFile(fixPath);

  RefuseBoxes();
  const Outcome result = StreamScanValidFile(validPath.c_str(), testPath.c_str(), folder.c_str(), StreamControl{});

  RequireNothingHeld();
  Require(ReadFileBytes(validPath) == ValidFile(), "the valid file changed");
  Require(ReadFileBytes(testPath) == test, "the test file changed");

  // A folder's test file (either form), repair file, request for more or follow-up, told by its
  // first twelve bytes, is refused before any block is compared; a follow-up is answered by
  // rules of its own.
  const auto tagged = [&test](const char* letters) {
    return test.size() >= 12 && Le32At(test, 0) == 0xFFFFFFFF && std::memcmp(test.data() + 4, letters, 8) == 0;
  };
  if (tagged("VNDIRCRC") || tagged("VNDIRFIX") || tagged("VNDIRFOL") || tagged("VNDIRSKT") || tagged("VNDIRASK")) {
    Require(result.ending == Ending::Stopped && result.step == Step::CheckTestFileForFolder && result.systemError == 0 &&
                !FileExists(fixPath),
            "a folder's file did not stop at the check of its kind");
    return 0;
  }
  if (tagged("VNFOLLOW")) return 0;
  // A request for a larger test file is a repair file, refused where the test file goes.
  if (tagged("VNASKING")) {
    Require(result.ending == Ending::Stopped && result.step == Step::TestIsRepairFile && !FileExists(fixPath),
            "a request for a larger test file was taken for a test file");
    return 0;
  }
  if (tagged("VNSKETCH")) {
    if (!CompactTestFileHolds(test)) {
      Require(result.ending == Ending::Stopped && result.step == Step::CheckCompactTestFile && result.systemError == 0 &&
                  !FileExists(fixPath),
              "a damaged compact test file was not refused at its check");
      return 0;
    }
    const bool answered = result.ending == Ending::Done || result.ending == Ending::MoreNeeded;
    Require(answered || (result.ending == Ending::Stopped && result.step == Step::CheckCompactTestFile),
            "a compact test file that holds was neither answered nor refused at its check");
    Require(answered == FileExists(fixPath), "a compact test file's answer and its file disagree");
    return 0;
  }

  if (size < 4) {
    Require(result.ending == Ending::Stopped && result.step == Step::CheckTestFileSize && result.systemError == 0 &&
                !FileExists(fixPath),
            "a test file too short to hold a size did not stop at the size check");
    return 0;
  }
  // The large form's marker: read as the large form, which no input this short can be whole.
  if (Le32At(test, 0) == 0xFFFFFFFF) {
    Require(result.ending == Ending::Stopped && result.step == Step::CheckLargeTestFile && !FileExists(fixPath),
            "a large-form test file cut short was not refused at its check");
    return 0;
  }
  const uint32_t entries = static_cast<uint32_t>(size - 4) / 4;
  bool identical = false;
  const Bytes expected = ExpectedRepairFile(test, entries, &identical);
  Require(result.ending == (identical ? Ending::Identical : Ending::Done), "a scan with a repair file to write did not finish");
  Require(FileExists(fixPath), "a finished scan wrote no repair file");
  const Bytes fix = ReadFileBytes(fixPath);
  RequireRepairFileShape(fix);
  Require(fix == expected, "the repair file differs from the expected one");
  return 0;
}
