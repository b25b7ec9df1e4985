// Files as rows of 4096-byte blocks, numbered from 1, and the 32-bit block checksum that
// two copies of a file are compared by.
#pragma once

#include <cstdint>

inline constexpr uint32_t kBlockSize = 4096;

// The size divided by 4096, rounded up; 0 for an empty file.
uint32_t BlockCount(uint32_t size);

// The same for sizes of any length, up to 16 TiB and more.
inline constexpr uint64_t BlockCount64(uint64_t size) { return size / kBlockSize + (size % kBlockSize != 0 ? 1 : 0); }

// Block numbers are 32-bit, so no file of more blocks than that can be exchanged.
inline constexpr uint64_t kLargestExchangedSize = uint64_t{0xFFFFFFFF} * kBlockSize;
// The first size that needs the large forms of both exchange files.
inline constexpr uint64_t kLargeFormSize = uint64_t{1} << 32;

// Exclusive-or of the block's 1024 little-endian 32-bit words.
uint32_t BlockChecksum(const uint8_t* block);
