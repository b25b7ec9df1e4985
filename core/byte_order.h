// Every number in the exchange files is unsigned and little-endian: 16-bit name lengths,
// 32-bit sizes, counts, block numbers and checksums, 64-bit sizes of the large and folder forms
// and the halves of the hashes. Each is read and written here, the byte order named in the call.
#pragma once

#include <cstdint>

inline uint16_t LoadU16LE(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

inline void StoreU16LE(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline uint32_t LoadU32LE(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void StoreU32LE(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

inline uint64_t LoadU64LE(const uint8_t* bytes) { return uint64_t{LoadU32LE(bytes)} | uint64_t{LoadU32LE(bytes + 4)} << 32; }

inline void StoreU64LE(uint8_t* bytes, uint64_t value) {
  StoreU32LE(bytes, static_cast<uint32_t>(value));
  StoreU32LE(bytes + 4, static_cast<uint32_t>(value >> 32));
}
