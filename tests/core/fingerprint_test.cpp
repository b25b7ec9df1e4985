// The fingerprint against the library's own XXH3-128 of the whole file and of every region:
// sizes around each of XXH3's paths and stretch, region and block boundaries, bytes given in
// pieces of every alignment, both builds of the loop, and the block checksums of the same pass.
#include <gtest/gtest.h>

#include <vector>

#include "core/block.h"
#include "core/fingerprint.h"
#include "tests/testing/scratch_folder.h"

namespace {

struct Kernels {
  std::vector<HashKernel> available;
  Kernels() {
    for (HashKernel k : {HashKernel::Sse2, HashKernel::Avx2}) {
      if (HashKernelAvailable(k)) available.push_back(k);
    }
  }
};

TEST(FingerprintTest, EqualsTheLibrarysHashOfTheWholeAndOfEveryRegion) {
  const HashKernel before = HashKernelInUse();
  const uint64_t sizes[] = {0, 1, 16, 17, 128, 129, 240, 241, 1023, 1024, 1025, 1088, 2047, 3 * 1024 + 63,
                            4096, 4096 * 3 + 1, 8192 + 240, 8192 + 241, 20000, 65536 + 5};
  const uint64_t regionSizes[] = {1024, 4096, uint64_t{1} << 20};
  const size_t pieces[] = {SIZE_MAX, 1, 7, 1000, 4096, 65537};
  const Bytes file = RandomBytes(11, 65536 + 5);
  for (HashKernel kernel : Kernels().available) {
    UseHashKernel(kernel);
    for (uint64_t size : sizes) {
      for (uint64_t regionSize : regionSizes) {
        for (size_t piece : pieces) {
          SCOPED_TRACE(::testing::Message() << "kernel " << static_cast<int>(kernel) << " size " << size << " region "
                                            << regionSize << " piece " << piece);
          if (piece == 1 && size > 4096) continue;
          const uint64_t regions = (size + regionSize - 1) / regionSize;
          std::vector<Hash128> hashes(regions + 1);
          Fingerprinter print(size, regionSize, hashes.data());
          for (uint64_t at = 0; at < size;) {
            const size_t count = static_cast<size_t>(size - at < piece ? size - at : piece);
            print.Add(file.data() + at, count);
            at += count;
          }
          ASSERT_TRUE(print.Complete());
          ASSERT_EQ(print.RegionCount(), regions);
          EXPECT_EQ(print.Whole(), Xxh3Hash128(file.data(), size));
          for (uint64_t r = 0; r < regions; ++r) {
            const uint64_t end = (r + 1) * regionSize < size ? (r + 1) * regionSize : size;
            EXPECT_EQ(hashes[r], Xxh3Hash128(file.data() + r * regionSize, end - r * regionSize)) << "region " << r;
          }
        }
      }
    }
  }
  UseHashKernel(before);
}

TEST(FingerprintTest, GivesTheBlockChecksumsOfTheBytesItHashes) {
  const HashKernel before = HashKernelInUse();
  Bytes file = RandomBytes(12, 70 * 4096 + 3000);
  // Blocks whose words cancel, which the checksum alone calls 0.
  for (size_t i = 0; i < 4096; ++i) file[5 * 4096 + i] = 0xFF;
  for (HashKernel kernel : Kernels().available) {
    UseHashKernel(kernel);
    for (uint64_t size : {uint64_t{4096}, uint64_t{70 * 4096}, uint64_t{file.size()}, uint64_t{4096 + 1}, uint64_t{100}}) {
      SCOPED_TRACE(::testing::Message() << "kernel " << static_cast<int>(kernel) << " size " << size);
      std::vector<Hash128> hashes(1);
      Fingerprinter print(size, hashes.data());
      std::vector<uint32_t> checksums(BlockCount64(size) + 1, 0xDEADBEEF);
      // In slices of 64 KiB, as a scan reads, the last one short.
      Bytes padded = Part(file, 0, size);
      padded.resize(BlockCount64(size) * 4096, 0);
      for (uint64_t at = 0; at < size; at += 65536) {
        print.AddBlocks(padded.data() + at, static_cast<size_t>(size - at < 65536 ? size - at : 65536), checksums.data() + at / 4096);
      }
      for (uint64_t b = 0; b < BlockCount64(size); ++b) {
        EXPECT_EQ(checksums[b], BlockChecksum(padded.data() + b * 4096)) << "block " << b + 1;
      }
      EXPECT_EQ(checksums[BlockCount64(size)], 0xDEADBEEFu);
      EXPECT_EQ(print.Whole(), Xxh3Hash128(file.data(), size));
    }
  }
  UseHashKernel(before);
}

TEST(FingerprintTest, RegionsAreOneMebibyteUpToSixtyFourGibibytesAndDoubleFromThere) {
  const struct {
    uint64_t size;
    uint64_t regionSize;
    uint64_t regions;
  } cases[] = {{0, 1u << 20, 0},
               {1, 1u << 20, 1},
               {uint64_t{64} << 30, 1u << 20, 65536},
               {(uint64_t{64} << 30) + 1, 2u << 20, 32769},
               {uint64_t{0xFFFFFFFF} * 4096, 256u << 20, 65536}};
  for (const auto& c : cases) {
    EXPECT_EQ(FingerprintRegionSize(c.size), c.regionSize) << c.size;
    EXPECT_EQ(FingerprintRegionCount(c.size), c.regions) << c.size;
  }
  // Stored most significant byte first, printed as xxh128sum prints it.
  const Hash128 hash{0x0123456789ABCDEFull, 0xFEDCBA9876543210ull};
  uint8_t stored[16];
  StoreHash128(stored, hash);
  EXPECT_EQ(stored[0], 0x01);
  EXPECT_EQ(stored[15], 0x10);
  EXPECT_EQ(LoadHash128(stored), hash);
  EXPECT_EQ(Hash128Hex(hash), "0123456789abcdeffedcba9876543210");
}

}  // namespace
