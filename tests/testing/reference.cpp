// The reference model of the exchange files.
#include "tests/testing/reference.h"

#include <algorithm>
#include <vector>

#include "core/fingerprint.h"

namespace {

constexpr uint64_t kBlock = 4096;

uint32_t Le32At(const Bytes& bytes, uint64_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | (offset + i < bytes.size() ? bytes[offset + i] : 0);
  return value;
}

uint64_t Blocks(uint64_t size) { return (size + kBlock - 1) / kBlock; }

}  // namespace

uint32_t ReferenceChecksum(const Bytes& file, uint64_t blockIndex) {
  uint8_t lanes[4] = {0, 0, 0, 0};
  const uint64_t start = blockIndex * kBlock;
  for (uint64_t i = 0; i < kBlock && start + i < file.size(); ++i) lanes[i % 4] ^= file[start + i];
  return static_cast<uint32_t>(lanes[0]) | static_cast<uint32_t>(lanes[1]) << 8 |
         static_cast<uint32_t>(lanes[2]) << 16 | static_cast<uint32_t>(lanes[3]) << 24;
}

Bytes ReferenceTestFile(const Bytes& broken) {
  Bytes out = Le32(static_cast<uint32_t>(broken.size()));
  for (uint64_t b = 0; b < Blocks(broken.size()); ++b) {
    const Bytes entry = Le32(ReferenceChecksum(broken, b));
    out.insert(out.end(), entry.begin(), entry.end());
  }
  return out;
}

Bytes ReferenceRepairFile(const Bytes& valid, const Bytes& testFile, const Bytes* answered) {
  // The test file vouches for the broken copy's bytes up to the size it records, as far as
  // its whole entries reach.
  const uint64_t entries = (testFile.size() - 4) / 4;
  const uint64_t vouched = std::min<uint64_t>(Le32At(testFile, 0), entries * kBlock);
  Bytes numbers;
  Bytes blocks;
  uint32_t count = 0;
  for (uint64_t b = 0; b < Blocks(valid.size()); ++b) {
    // Entries past the test file's end, and missing high bytes of a partial entry, are 0.
    bool damaged = ReferenceChecksum(valid, b) != Le32At(testFile, 4 + 4 * b);
    // A block without a whole entry that the broken copy has bytes in is unknown, and travels.
    damaged = damaged || (b >= entries && b * kBlock < std::min<uint64_t>(Le32At(testFile, 0), valid.size()));
    // A byte that is not zero where the broken copy is not vouched for must travel.
    for (uint64_t i = std::max(vouched, b * kBlock); i < std::min<uint64_t>((b + 1) * kBlock, valid.size()); ++i) {
      damaged = damaged || valid[i] != 0;
    }
    if (!damaged) continue;
    const Bytes number = Le32(static_cast<uint32_t>(b + 1));
    numbers.insert(numbers.end(), number.begin(), number.end());
    Bytes block(kBlock, 0);
    const uint64_t start = b * kBlock;
    std::copy(valid.begin() + static_cast<std::ptrdiff_t>(start),
              valid.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(start + kBlock, valid.size())), block.begin());
    blocks.insert(blocks.end(), block.begin(), block.end());
    ++count;
  }
  // The record of the broken file: its size, the entries the test file has, and the entry of
  // every carried block.
  const uint64_t recorded = Le32At(testFile, 0);
  Bytes values;
  std::vector<bool> carried(Blocks(valid.size()) + 1, false);
  for (uint32_t j = 0; j < count; ++j) {
    const uint32_t b = Le32At(numbers, 4 * j);
    carried[b] = true;
    const Bytes value = Le32(Le32At(testFile, 4 + 4 * (uint64_t{b} - 1)));
    values.insert(values.end(), value.begin(), value.end());
  }
  // The sample: up to 64 of the blocks 1 to C, spread evenly, the next one not carried standing
  // in for one that is.
  uint64_t candidates = std::min({entries, Blocks(recorded), Blocks(valid.size())});
  if (recorded > valid.size()) candidates = std::min<uint64_t>(candidates, valid.size() / kBlock);
  const uint64_t most = std::min<uint64_t>(candidates, 64);
  Bytes samples;
  uint32_t sampled = 0;
  uint64_t after = 0;  // ordinals below this are past
  for (uint64_t i = 0; i < most; ++i) {
    // A sample due before the last one taken was taken by it.
    uint64_t j = i * candidates / most;
    if (j < after) continue;
    while (j < candidates && carried[j + 1]) ++j;
    if (j >= candidates) break;
    samples = Concat({samples, Le32(static_cast<uint32_t>(j + 1)), Le32(Le32At(testFile, 4 + 4 * j))});
    ++sampled;
    after = j + 1;
  }
  const Bytes origin = Concat({Le32(static_cast<uint32_t>(recorded)), Le32(0), Le32(static_cast<uint32_t>(entries)), Le32(1),
                               Le32(count), Le32(sampled)});
  return Concat({Le32(static_cast<uint32_t>(valid.size())), Le32(count), numbers, blocks,
                 ReferenceFingerprintPart(valid, &origin, Concat({values, samples}),
                                          answered != nullptr ? *answered : testFile)});
}

bool ReferenceChecksumsMatch(const Bytes& valid, const Bytes& testFile) {
  const Bytes fix = ReferenceRepairFile(valid, testFile);
  const uint64_t entries = (testFile.size() - 4) / 4;
  return Le32At(fix, 4) == 0 && Le32At(testFile, 0) == valid.size() && entries == Blocks(valid.size());
}

Bytes ReferenceFingerprintPart(const Bytes& valid, const Bytes* origin, const Bytes& record, const Bytes& answered) {
  constexpr uint64_t kRegion = uint64_t{1} << 20;  // every file a test makes has 1 MiB regions
  const uint64_t regions = (valid.size() + kRegion - 1) / kRegion;
  const auto hash = [](const uint8_t* bytes, size_t count) {
    const Hash128 h = Xxh3Hash128(bytes, count);
    Bytes out;
    for (int i = 56; i >= 0; i -= 8) out.push_back(static_cast<uint8_t>(h.high >> i));
    for (int i = 56; i >= 0; i -= 8) out.push_back(static_cast<uint8_t>(h.low >> i));
    return out;
  };
  Bytes part = Concat({{0x89, 'V', 'F', 'P', 0x0D, 0x0A, 0x1A, 0x0A}, Le32(origin != nullptr ? 3 : 1), Le32(0),
                       Le32(kRegion), Le32(0), Le32(static_cast<uint32_t>(valid.size())), Le32(0),
                       Le32(static_cast<uint32_t>(regions)), Le32(static_cast<uint32_t>(regions)),
                       hash(valid.data(), valid.size())});
  if (origin != nullptr) part = Concat({part, *origin, hash(answered.data(), answered.size()), Bytes(16, 0)});
  for (uint64_t r = 0; r < regions; ++r) {
    const uint64_t end = std::min<uint64_t>((r + 1) * kRegion, valid.size());
    const Bytes h = hash(valid.data() + r * kRegion, end - r * kRegion);
    part.insert(part.end(), h.begin(), h.end());
  }
  part = Concat({part, record});
  const Bytes check = hash(part.data(), part.size());
  part.insert(part.end(), check.begin(), check.end());
  return part;
}

Bytes ReferenceRepairedFile(const Bytes& broken, const Bytes& repairFile) {
  const uint64_t validSize = Le32At(repairFile, 0);
  const uint64_t count = Le32At(repairFile, 4);
  Bytes image(Blocks(validSize) * kBlock, 0);
  // A longer broken copy is cut to the valid size.
  std::copy(broken.begin(), broken.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(broken.size(), image.size())),
            image.begin());
  for (uint64_t j = 0; j < count; ++j) {
    const uint64_t number = Le32At(repairFile, 8 + 4 * j);
    const uint64_t from = 8 + 4 * count + kBlock * j;
    std::copy(repairFile.begin() + static_cast<std::ptrdiff_t>(from),
              repairFile.begin() + static_cast<std::ptrdiff_t>(from + kBlock),
              image.begin() + static_cast<std::ptrdiff_t>((number - 1) * kBlock));
  }
  return Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(validSize));
}
