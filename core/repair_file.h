// The repair file NAME.fix: its forms, how a header is written, and the checks a repair file
// must pass before anything is put in place. Every number is little-endian.
//
// Small form, for a valid file of fewer than 2^32 bytes: u32 S, u32 K, K u32 block numbers
// (1-based), then K blocks of 4096 bytes in the same order; 8 + 4100 * K bytes.
// Large form, for 2^32 bytes and more: u32 0, u32 K, u64 S, the K numbers and the K blocks;
// 16 + 4100 * K bytes. Its first word reads as a valid size of 0, which a reader of the
// small form refuses before it touches the broken file.
#pragma once

#include <cstdint>

#include "core/block.h"

enum class RepairFileForm { Small, Large };

inline constexpr uint32_t kRepairFileHeaderBytes = 8;
inline constexpr uint32_t kLargeRepairFileHeaderBytes = 16;
// Room for the header of any form.
inline constexpr uint32_t kLongestRepairFileHeader = kLargeRepairFileHeaderBytes;
inline constexpr uint32_t kRepairEntryBytes = 4 + kBlockSize;

RepairFileForm RepairFileFormFor(uint64_t validSize);
uint32_t RepairFileHeaderBytes(RepairFileForm form);

// The header of the repair file for a valid file of validSize bytes with damagedCount
// blocks, in out (room for kLongestRepairFileHeader bytes); returns its length.
uint32_t StoreRepairFileHeader(uint8_t* out, uint64_t validSize, uint32_t damagedCount);

// A repair file's header as read from its first min(length, 16) bytes.
struct RepairFileLayout {
  RepairFileForm form = RepairFileForm::Small;
  uint64_t validSize = 0;     // S
  uint32_t damagedCount = 0;  // K
  uint32_t headerBytes = kRepairFileHeaderBytes;
  uint64_t BlockNumbersAt() const { return headerBytes; }
  uint64_t RepairBlocksAt() const { return headerBytes + 4 * uint64_t{damagedCount}; }
  // Where the last repair block ends: bytes behind it belong to no block.
  uint64_t BlocksEnd() const { return RepairBlocksAt() + uint64_t{kBlockSize} * damagedCount; }
};

enum class RepairFileVerdict {
  Read,
  TooShort,        // fewer than 8 bytes: no header
  Incomplete,      // the small form, shorter than its K entries need
  LargeMalformed,  // the large form with a size that does not need it, one too large, or too short
};

// Reads and checks the header against the file's length (in 64 bits, so that no count can
// point outside the file). A small form with S = 0 is read as the large form.
RepairFileVerdict ReadRepairFileLayout(const uint8_t* start, uint64_t length, RepairFileLayout* layout);
