// The fingerprint of a file: XXH3-128 of its whole contents, the value xxh128sum prints, and
// of each region of it. Regions are 1 MiB, or the smallest power of two that keeps a file at
// 65536 regions or fewer (256 MiB regions at 16 TiB), so that a difference the block
// checksums cannot see is narrowed to a region without a table that grows with the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Hash128 {
  uint64_t high = 0;
  uint64_t low = 0;
  bool operator==(const Hash128& other) const { return high == other.high && low == other.low; }
  bool operator!=(const Hash128& other) const { return !(*this == other); }
};

inline constexpr uint64_t kSmallestRegion = uint64_t{1} << 20;
inline constexpr uint64_t kMostRegions = 65536;
inline constexpr uint32_t kHash128Bytes = 16;

uint64_t FingerprintRegionSize(uint64_t fileSize);
// The regions of a file of this size: its size divided by the region size, rounded up.
uint64_t FingerprintRegionCount(uint64_t fileSize);

// The 16 bytes of a hash as stored, most significant first (the order xxh128sum prints).
void StoreHash128(uint8_t* out, const Hash128& hash);
Hash128 LoadHash128(const uint8_t* in);
// 32 lowercase hexadecimal digits, as xxh128sum prints them.
std::string Hash128Hex(const Hash128& hash);

Hash128 Xxh3Hash128(const void* bytes, size_t count);
uint64_t Xxh3Hash64(const void* bytes, size_t count);

// Takes a file's bytes in order, in pieces of any size, and gives its fingerprint once all
// fileSize bytes are in.
class Fingerprinter {
 public:
  explicit Fingerprinter(uint64_t fileSize);
  ~Fingerprinter();
  Fingerprinter(const Fingerprinter&) = delete;
  Fingerprinter& operator=(const Fingerprinter&) = delete;

  void Add(const uint8_t* bytes, size_t count);
  // Whether the bytes added so far are the whole file.
  bool Complete() const { return added_ == fileSize_; }
  Hash128 Whole() const;
  // One hash per region, in order.
  const std::vector<Hash128>& Regions() const { return regions_; }

 private:
  struct States;
  uint64_t fileSize_;
  uint64_t regionSize_;
  uint64_t added_ = 0;
  std::unique_ptr<States> states_;
  std::vector<Hash128> regions_;
};
