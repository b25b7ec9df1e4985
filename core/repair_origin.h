// What a repair file records of the broken file it was made for, and the rules by which a
// repair decides, before its first write, that the file in front of it is that file (or that
// file partly repaired by an earlier run of the same repair). The record travels in version 2
// of the fingerprint part and in a folder's patch records of action 7; its fields are laid out
// here, once, for both:
//
//   0   8   B, the broken file's size as its test file records it
//   8   4   T, the blocks the test file has a value for
//   12  4   how the values were taken: 1 the block checksum of a test file, 2 the low 32 bits
//           of the XXH3-64 of a follow-up test file
//   16  4   K, the blocks the repair carries
//   20  4   M, the blocks sampled, 0 to 64
// then, where each format puts them: K values, one per carried block in the repair's order
// (0 for a block the test file has no value for), and M samples (u32 block, u32 value),
// ascending, of blocks the repair does not carry.
#pragma once

#include <cstdint>

enum class BlockValueKind : uint32_t { Checksum = 1, Hash64 = 2 };

inline constexpr uint32_t kOriginFieldBytes = 24;
inline constexpr uint32_t kOriginSampleBytes = 8;
inline constexpr uint32_t kMostSampledBlocks = 64;

struct RepairOrigin {
  uint64_t recordedSize = 0;     // B
  uint64_t recordedEntries = 0;  // T
  BlockValueKind kind = BlockValueKind::Checksum;
  uint32_t carried = 0;  // K
  uint32_t samples = 0;  // M
};

void StoreOriginFields(uint8_t* out, const RepairOrigin& origin);
// Reads the fields and checks them against the repair's own: the valid size and K. 0 when they
// cannot be a record of a broken file for it.
int LoadOriginFields(const uint8_t* in, uint64_t validSize, uint32_t carried, RepairOrigin* origin);
// The bytes of the values and the samples behind the fields.
uint64_t OriginListBytes(const RepairOrigin& origin);
// Whether the samples (M of them, as stored) name, in ascending order, blocks that have a value
// and whose recorded bytes lie inside the valid file.
int OriginSamplesHold(const uint8_t* samples, const RepairOrigin& origin, uint64_t validSize);

// The value of a block of 4096 bytes (a partial one padded with zeros), as the record took it.
uint32_t BlockValue(BlockValueKind kind, const uint8_t* block);

// Which blocks a scan samples: among the candidates, blocks 1 to SampleCandidates (those the
// test file has a value for whose recorded bytes the valid file also has), up to 64 spread
// evenly; where the one due is carried, the next one not carried stands in for it.
uint64_t SampleCandidates(uint64_t recordedSize, uint64_t recordedEntries, uint64_t validSize);
// They are found by jumping from one due sample to the next, so a scan need not go through every
// candidate: carried(j) says whether candidate j (from 0) is carried, take(j) receives each one
// sampled.
template <typename Carried, typename Take>
void SampleSpread(uint64_t candidates, Carried carried, Take take) {
  const uint64_t most = candidates < kMostSampledBlocks ? candidates : kMostSampledBlocks;
  uint64_t after = 0;  // candidates below this are passed
  for (uint64_t i = 0; i < most; ++i) {
    uint64_t j = i * candidates / most;
    if (j < after) continue;  // due by the time the last one was taken
    while (j < candidates && carried(j)) ++j;
    if (j >= candidates) return;
    take(j);
    after = j + 1;
  }
}

// The checks of a repair. The size must lie between the recorded and the valid size: an
// earlier run of the repair grows or cuts the file towards the valid size, nothing else.
bool OriginSizeFits(const RepairOrigin& origin, uint64_t brokenSize, uint64_t validSize);
// The bytes of block b (from 1) the record has a value for: 0 for a block past B or without a
// value, which the size alone checks.
uint32_t RecordedBytes(const RepairOrigin& origin, uint64_t b);
// Whether the have bytes the broken file has of block b (at most 4096) hold what the record says
// of it: its value, taken over its recorded bytes padded with zeros. A block without a value
// holds it by definition.
bool HoldsRecorded(const RepairOrigin& origin, uint64_t b, const uint8_t* bytes, uint32_t have, uint32_t value);
// Whether they hold the valid file's block b itself, as far as the valid file has it.
bool HoldsRepairBlock(uint64_t b, uint64_t validSize, const uint8_t* bytes, uint32_t have, const uint8_t* repairBlock);

// What the blocks read came to. Every sample must hold its value; every carried block its
// value or the valid block, in the order a run writes them: the carried blocks, given in
// ascending order, hold the valid block up to some point and their value from there on, with
// at most one block at that point holding neither (a write torn by a kill or a power cut). A
// block changed on purpose since the test file, or a stale repair file's block that another
// change overtook, is not such a point unless it stands exactly where a run would have stopped.
class OriginCheck {
 public:
  void Sample(uint64_t b, bool holds);
  // In ascending order of b.
  void Carried(uint64_t b, bool holdsRecorded, bool holdsRepairBlock);
  bool Holds() const { return failedAt_ == 0; }
  // The block that settled a refusal.
  uint64_t FailedAt() const { return failedAt_; }

 private:
  uint64_t failedAt_ = 0;
  bool written_ = true;  // still in the blocks a run has written
};
