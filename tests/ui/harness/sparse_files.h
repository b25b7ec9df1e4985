// Files of several GiB that hold data in a few blocks only. On disk they stay sparse (the
// length is set without writing, the data is written beyond it), so a test can take many of
// them through the real dialog without filling the disk; in the test they are a small model
// from which the exchange files they must give are derived independently of the program.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/testing/scratch_folder.h"

namespace gui {

inline constexpr uint64_t kGiB = uint64_t{1} << 30;

struct SparseFile {
  // Blocks first to first + count - 1 all hold the same bytes: much damage, little memory.
  struct Run {
    uint64_t first;
    uint64_t count;
    Bytes block;
  };

  uint64_t size = 0;
  // Block index (from 0) to the block's 4096 bytes; every other block reads as zeros, unless a
  // run covers it (the two never overlap). Bytes of the last block past the size are not part
  // of the file and must be zero.
  std::map<uint64_t, Bytes> blocks;
  std::vector<Run> runs;

  uint64_t BlockCount() const { return (size + 4095) / 4096; }
  // The block's bytes as a repair file carries them: 4096, zero-padded.
  Bytes Block(uint64_t index) const;
  // The indices of every block that may hold data, in order.
  std::vector<uint64_t> DataBlocks() const;
};

// A file that starts with the given bytes and is zeros from there up to size.
SparseFile SparseFileOf(const Bytes& start, uint64_t size);

// A block of random bytes that fits the file at that index (a partial last block is padded
// with zeros).
Bytes RandomBlock(const SparseFile& file, uint64_t index, uint32_t seed);

// Creates or replaces the file, sparse.
void WriteSparseFile(const std::string& path, const SparseFile& file);

// The large forms as their byte layouts say: the test file of a broken file, and the repair
// file that carries every block of valid whose checksum differs from broken's, with the valid
// file's fingerprint behind its blocks (each region hashed from the model, the whole file
// through a stream of its bytes).
Bytes LargeTestFileOf(const SparseFile& broken);
// The compact test file of that many symbols, from the model's checksums.
Bytes CompactTestFileOf(const SparseFile& broken, uint32_t symbols);
// With the test file it answers, the fingerprint part names it (as every scan now writes it);
// without, it is the part of the version before, which repairs still read.
Bytes LargeRepairFileOf(const SparseFile& valid, const SparseFile& broken, const Bytes* testFile = nullptr);

// Whether a file has the model's size and holds exactly its bytes, read in large chunks; or,
// given a range of blocks, the bytes of those blocks.
bool HoldsBytesOf(const std::string& path, const SparseFile& model, uint64_t fromBlock = 0,
                  uint64_t toBlock = UINT64_MAX);
// The 4096 bytes of block index of a file on disk (zero-padded past its end).
Bytes BlockOnDisk(const std::string& path, uint64_t index);

}  // namespace gui
