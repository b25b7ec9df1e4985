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

// Whether the test file may be compared with the valid file at all: it must not describe more
// blocks than the valid file has (E <= N).
bool TestFileFitsValid(uint64_t entries, uint64_t validBlocks);

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

// A broken file longer than the valid file's blocks cannot be the damaged copy of it.
bool BrokenFileFits(uint64_t brokenSize, uint64_t validSize);

// How many bytes of block b lie inside a file of this size: 4096, or fewer for the last.
uint32_t BlockBytesInFile(uint64_t b, uint64_t size);
