// Layout of the two exchange files. All numbers are unsigned 32-bit little-endian.
//
// Test file NAME.crc: the broken file's size, then the checksum of each of its blocks in
// block order; 4 + 4 * N bytes.
//
// Repair file NAME.fix: the valid file's size, the count K of damaged blocks, K block
// numbers (1-based), then K blocks of 4096 bytes in the same order; 8 + 4100 * K bytes.
#pragma once

#include <cstdint>

#include "engine/block.h"

inline constexpr uint32_t kTestFileHeaderBytes = 4;
inline constexpr uint32_t kRepairFileHeaderBytes = 8;
inline constexpr uint32_t kRepairEntryBytes = 4 + kBlockSize;

// One valid-file scan carries at most this many repair blocks (100 MiB).
inline constexpr uint32_t kMaxDamagedBlocks = 25600;
inline constexpr uint32_t kListAreaBytes = kMaxDamagedBlocks * 4;
inline constexpr uint32_t kRepairAreaBytes = kMaxDamagedBlocks * kBlockSize;

// Whether a repair file of length bytes, already read whole, can be applied to a file of
// blockCount blocks: it holds its header, all K entries it announces, and names only blocks
// from 1 to blockCount. Reads nothing outside the length bytes.
int RepairFileFits(const uint8_t* repairFile, uint32_t length, uint32_t blockCount);
