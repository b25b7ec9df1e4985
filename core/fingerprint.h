// The fingerprint of a file: XXH3-128 of its whole contents, the value xxh128sum prints, and
// of each region of it. Regions are 1 MiB, or the smallest power of two that keeps a file at
// 65536 regions or fewer (256 MiB regions at 16 TiB), so that a difference the block
// checksums cannot see is narrowed to a region without a table that grows with the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// XXH3-128 of bytes given in pieces: the checks of the exchange files' parts that are written
// or read a piece at a time.
class Hash128Stream {
 public:
  Hash128Stream();
  void Add(const void* bytes, size_t count);
  Hash128 Digest() const;

 private:
  alignas(64) unsigned char state_[640];
};

// Which build of the hashing loop runs: the one every x86-64 processor has, or AVX2, which is
// chosen by default where the processor has it. Tests and benchmarks pick one to compare.
enum class HashKernel { Sse2, Avx2 };
bool HashKernelAvailable(HashKernel kernel);
// Only an available one; for the whole process, before any Fingerprinter is made.
void UseHashKernel(HashKernel kernel);
HashKernel HashKernelInUse();

// Takes a file's bytes in order, in pieces of any size, and gives its fingerprint once all
// fileSize bytes are in. It allocates nothing: the caller gives room for the region hashes.
// The whole file and the region under way are hashed in one pass, which can also give the
// block checksums of the same bytes (AddBlocks), so that a scan reads and works on every byte
// once.
class Fingerprinter {
 public:
  // regions: room for FingerprintRegionCount(fileSize) hashes.
  Fingerprinter(uint64_t fileSize, Hash128* regions);
  // Any region size that is a power of two of at least 1024 bytes, for files that need not be
  // large to have many regions (tests).
  Fingerprinter(uint64_t fileSize, uint64_t regionSize, Hash128* regions);

  void Add(const uint8_t* bytes, size_t count);
  // Add, and the checksum of each 4096-byte block of these bytes into checksums. The bytes added
  // before must be whole blocks, and so must these, but for the file's last block; count is
  // the file's bytes, and the last block is taken as padded with zero bytes, as everywhere.
  void AddBlocks(const uint8_t* bytes, size_t count, uint32_t* checksums);

  // Whether the bytes added so far are the whole file.
  bool Complete() const { return added_ == fileSize_; }
  uint64_t RegionSize() const { return regionSize_; }
  uint64_t RegionCount() const { return regionCount_; }
  // Once complete.
  Hash128 Whole() const { return whole_; }
  const Hash128* Regions() const { return regions_; }

 private:
  void Take(const uint8_t* bytes, size_t count, uint32_t* xors);
  void RegionEnd(const uint8_t* stretch, uint32_t* xor_);
  void FileEnd(const uint8_t* stretch, size_t count, uint32_t* xor_);

  uint64_t fileSize_;
  uint64_t regionSize_;
  uint64_t regionCount_;
  uint64_t lastStretchAt_;  // where the file's last (possibly partial) 1024-byte stretch starts
  Hash128* regions_;
  uint64_t added_ = 0;
  uint64_t regionsDone_ = 0;
  Hash128 whole_;
  uint64_t wholeAcc_[8];
  uint64_t regionAcc_[8];
  // Bytes of a stretch that came in pieces, and the last 64 bytes before the stretch under way,
  // which the last stripe of a file can reach back into.
  uint8_t pending_[1024];
  size_t pendingBytes_ = 0;
  uint8_t before_[64] = {};
};
