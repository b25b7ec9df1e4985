// The rules of the exchange, as plain functions over sizes, counts and block bytes: which
// block of the valid file must travel, when two copies count as identical, and what a repair
// file and a broken file must satisfy before anything is written. Both engines decide by
// these and by nothing else.
#pragma once

#include <cstdint>

// What a valid-file scan compares: the valid file, and what the test file says of the broken
// copy.
struct Exchange {
  uint64_t validSize = 0;     // S
  uint64_t validBlocks = 0;   // N = BlockCount(S)
  uint64_t recordedSize = 0;  // B, the test file's size field
  uint64_t entries = 0;       // E, the test file's whole entries
};

// L = min(B, 4096 * E): the part of the broken copy whose bytes the test file vouches for.
uint64_t VouchedLength(const Exchange& exchange);

// Whether block b (from 1) of the valid file must travel. block: its 4096 bytes, a partial
// last block padded with zeros; entry: the test file's checksum for b (0 past its entries).
// A block travels when its checksum differs from the entry; when the test file has no entry
// for it (b > E) although the broken copy has bytes in it ((b - 1) * 4096 < min(B, S)); or
// when it reaches past L and the valid file has a byte other than zero there: past its end a
// broken copy is only the zero padding of its image, which a valid tail whose words cancel
// out checksums to as well.
bool BlockMustTravel(const Exchange& exchange, uint64_t b, const uint8_t* block, uint32_t entry);
// The same, with the block's checksum already taken (in the pass that also hashes it).
bool BlockMustTravel(const Exchange& exchange, uint64_t b, const uint8_t* block, uint32_t entry, uint32_t checksum);

// Identical only when nothing travels and the test file describes a copy of the valid file's
// length, block for block (B = S and E = N). Otherwise a repair file without blocks still
// carries the valid size, to which the repair sets the broken file's length.
bool CopiesIdentical(const Exchange& exchange, uint64_t blocksThatTravel);

// A repair file's block number must name a block of the valid file: 1 to N.
bool BlockNumberFits(uint64_t blockNumber, uint64_t validBlocks);

// How much of a file differs, as a fraction: the larger of the share of the valid file's blocks
// carried and the share by which the sizes differ (of the larger). A damaged copy seldom comes
// to a quarter; another version of the file does.
double DifferingShare(uint64_t carried, uint64_t validSize, uint64_t recordedSize);
inline constexpr double kSameVersionShare = 0.25;
// The share as a whole percentage for a message: never 0 for a share above 0, never 100 below 1.
uint32_t SharePercent(double share);

// How many bytes of block b lie inside a file of this size: 4096, or fewer for the last.
uint32_t BlockBytesInFile(uint64_t b, uint64_t size);
