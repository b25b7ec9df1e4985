// Fingerprints through XXH3. The library's header is compiled in whole, so the hash needs no
// library at run time and the Windows program stays one file. The long-input path of XXH3-128
// is taken apart here so that the whole file and its region under way share each stretch's
// work (fingerprint_kernels.h); everything short, and every value, is checked against the
// library's own functions by the tests.
#include "core/fingerprint.h"

#include <cstring>

#include "core/block.h"
#include "core/fingerprint_kernels.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

constexpr size_t kStripe = 64;
constexpr size_t kSecretBytes = sizeof(XXH3_kSecret);
// Inputs up to this length take XXH3's short paths, which the library computes.
constexpr uint64_t kShortInput = 240;
constexpr uint64_t kInitialAcc[8] = {XXH_PRIME32_3, XXH_PRIME64_1, XXH_PRIME64_2, XXH_PRIME64_3,
                                     XXH_PRIME64_4, XXH_PRIME32_2, XXH_PRIME64_5, XXH_PRIME32_1};

Hash128 FromXxh(const XXH128_hash_t& hash) { return Hash128{hash.high64, hash.low64}; }

uint64_t Read64(const uint8_t* p) {
  uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

void Stripe(uint64_t* acc, const uint8_t* bytes, const uint8_t* key) {
  for (int i = 0; i < 8; ++i) {
    const uint64_t data = Read64(bytes + 8 * i);
    const uint64_t mixed = data ^ Read64(key + 8 * i);
    acc[i ^ 1] += data;
    acc[i] += (mixed & 0xFFFFFFFF) * (mixed >> 32);
  }
}

void Scramble(uint64_t* acc) {
  for (int i = 0; i < 8; ++i) {
    const uint64_t mixed = acc[i] ^ (acc[i] >> 47) ^ Read64(XXH3_kSecret + kSecretBytes - kStripe + 8 * i);
    acc[i] = mixed * XXH_PRIME32_1;
  }
}

uint64_t Merge(const uint64_t* acc, const uint8_t* key, uint64_t start) {
  uint64_t result = start;
  for (int i = 0; i < 4; ++i) {
    const unsigned __int128 product =
        static_cast<unsigned __int128>(acc[2 * i] ^ Read64(key + 16 * i)) * (acc[2 * i + 1] ^ Read64(key + 16 * i + 8));
    result += static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  }
  result ^= result >> 37;
  result *= 0x165667919E3779F9ULL;
  return result ^ (result >> 32);
}

Hash128 Digest(const uint64_t* acc, uint64_t length) {
  // The offsets into the secret where XXH3 merges its accumulators for the low and high halves.
  Hash128 hash;
  hash.low = Merge(acc, XXH3_kSecret + 11, length * XXH_PRIME64_1);
  hash.high = Merge(acc, XXH3_kSecret + kSecretBytes - 64 - 11, ~(length * XXH_PRIME64_2));
  return hash;
}

// The last stripe of an input: its last 64 bytes, at a secret offset of its own.
const uint8_t* LastStripeKey() { return XXH3_kSecret + kSecretBytes - kStripe - 7; }

uint32_t WordsXor(const uint8_t* bytes, size_t count) {
  uint8_t padded[kStretchBytes] = {};
  std::memcpy(padded, bytes, count);
  uint32_t result = 0;
  for (size_t i = 0; i < kStretchBytes; i += 4) {
    uint32_t word;
    std::memcpy(&word, padded + i, sizeof word);
    result ^= word;
  }
  return result;
}

AccumulateStretches ChosenKernel(bool choose, AccumulateStretches choice) {
  static AccumulateStretches kernel = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &AccumulateStretchesAvx2 : &AccumulateStretchesSse2;
  }();
  if (choose) kernel = choice;
  return kernel;
}

// The most stretches one call of the loop takes, so that their words fit on the stack.
constexpr size_t kStretchesPerCall = 256;

}  // namespace

uint64_t FingerprintRegionSize(uint64_t fileSize) {
  uint64_t size = kSmallestRegion;
  while (fileSize / size + (fileSize % size != 0 ? 1 : 0) > kMostRegions) size *= 2;
  return size;
}

uint64_t FingerprintRegionCount(uint64_t fileSize) {
  const uint64_t size = FingerprintRegionSize(fileSize);
  return fileSize / size + (fileSize % size != 0 ? 1 : 0);
}

void StoreHash128(uint8_t* out, const Hash128& hash) {
  for (int i = 0; i < 8; ++i) {
    out[i] = static_cast<uint8_t>(hash.high >> (56 - 8 * i));
    out[8 + i] = static_cast<uint8_t>(hash.low >> (56 - 8 * i));
  }
}

Hash128 LoadHash128(const uint8_t* in) {
  Hash128 hash;
  for (int i = 0; i < 8; ++i) {
    hash.high = hash.high << 8 | in[i];
    hash.low = hash.low << 8 | in[8 + i];
  }
  return hash;
}

std::string Hash128Hex(const Hash128& hash) {
  static const char kDigits[] = "0123456789abcdef";
  uint8_t bytes[kHash128Bytes];
  StoreHash128(bytes, hash);
  std::string hex;
  for (const uint8_t byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

Hash128 Xxh3Hash128(const void* bytes, size_t count) { return FromXxh(XXH3_128bits(bytes, count)); }

uint64_t Xxh3Hash64(const void* bytes, size_t count) { return XXH3_64bits(bytes, count); }

Hash128Stream::Hash128Stream() {
  static_assert(sizeof(XXH3_state_t) <= sizeof state_ && alignof(XXH3_state_t) <= 64);
  XXH3_128bits_reset(reinterpret_cast<XXH3_state_t*>(state_));
}

void Hash128Stream::Add(const void* bytes, size_t count) {
  XXH3_128bits_update(reinterpret_cast<XXH3_state_t*>(state_), bytes, count);
}

Hash128 Hash128Stream::Digest() const { return FromXxh(XXH3_128bits_digest(reinterpret_cast<const XXH3_state_t*>(state_))); }

bool HashKernelAvailable(HashKernel kernel) {
  __builtin_cpu_init();
  return kernel == HashKernel::Sse2 || __builtin_cpu_supports("avx2");
}

void UseHashKernel(HashKernel kernel) {
  ChosenKernel(true, kernel == HashKernel::Avx2 ? &AccumulateStretchesAvx2 : &AccumulateStretchesSse2);
}

HashKernel HashKernelInUse() {
  return ChosenKernel(false, nullptr) == &AccumulateStretchesAvx2 ? HashKernel::Avx2 : HashKernel::Sse2;
}

Fingerprinter::Fingerprinter(uint64_t fileSize, Hash128* regions)
    : Fingerprinter(fileSize, FingerprintRegionSize(fileSize), regions) {}

Fingerprinter::Fingerprinter(uint64_t fileSize, uint64_t regionSize, Hash128* regions)
    : fileSize_(fileSize),
      regionSize_(regionSize),
      regionCount_(fileSize / regionSize + (fileSize % regionSize != 0 ? 1 : 0)),
      lastStretchAt_(fileSize == 0 ? 0 : (fileSize - 1) / kStretchBytes * kStretchBytes),
      regions_(regions) {
  std::memcpy(wholeAcc_, kInitialAcc, sizeof wholeAcc_);
  std::memcpy(regionAcc_, kInitialAcc, sizeof regionAcc_);
  if (fileSize == 0) whole_ = Xxh3Hash128(nullptr, 0);
}

void Fingerprinter::Add(const uint8_t* bytes, size_t count) {
  uint32_t scratch[kStretchesPerCall + 1];
  while (count > 0) {
    const size_t piece = count < kStretchesPerCall * kStretchBytes ? count : kStretchesPerCall * kStretchBytes;
    Take(bytes, piece, scratch);
    bytes += piece;
    count -= piece;
  }
}

void Fingerprinter::AddBlocks(const uint8_t* bytes, size_t count, uint32_t* checksums) {
  constexpr size_t kPiece = kStretchesPerCall * kStretchBytes;
  uint32_t xors[kStretchesPerCall];
  while (count > 0) {
    const size_t piece = count < kPiece ? count : kPiece;
    Take(bytes, piece, xors);
    const size_t stretches = (piece + kStretchBytes - 1) / kStretchBytes;
    const size_t blocks = (piece + kBlockSize - 1) / kBlockSize;
    for (size_t b = 0; b < blocks; ++b) checksums[b] = 0;
    for (size_t k = 0; k < stretches; ++k) checksums[k / (kBlockSize / kStretchBytes)] ^= xors[k];
    bytes += piece;
    count -= piece;
    checksums += blocks;
  }
}

// Whole stretches go straight from the bytes given; a stretch that comes in pieces is gathered
// first. xors: one word per stretch completed in this call.
void Fingerprinter::Take(const uint8_t* bytes, size_t count, uint32_t* xors) {
  while (count > 0) {
    const uint64_t at = added_ - pendingBytes_;
    const size_t length = at == lastStretchAt_ ? static_cast<size_t>(fileSize_ - at) : kStretchBytes;
    const uint8_t* stretch = bytes;
    size_t taken = length;
    if (pendingBytes_ == 0 && count >= length && at < lastStretchAt_ && (at + kStretchBytes) % regionSize_ != 0) {
      // A run of stretches up to the region's last one or the file's.
      const uint64_t regionLast = (at / regionSize_ + 1) * regionSize_ - kStretchBytes;
      const uint64_t limit = regionLast < lastStretchAt_ ? regionLast : lastStretchAt_;
      size_t run = count / kStretchBytes;
      if (run > (limit - at) / kStretchBytes) run = static_cast<size_t>((limit - at) / kStretchBytes);
      if (run > kStretchesPerCall) run = kStretchesPerCall;
      ChosenKernel(false, nullptr)(wholeAcc_, regionAcc_, bytes, run, XXH3_kSecret, xors);
      taken = run * kStretchBytes;
      std::memcpy(before_, bytes + taken - sizeof before_, sizeof before_);
      xors += run;
    } else {
      if (pendingBytes_ > 0 || count < length) {
        const size_t take = length - pendingBytes_ < count ? length - pendingBytes_ : count;
        std::memcpy(pending_ + pendingBytes_, bytes, take);
        pendingBytes_ += take;
        added_ += take;
        bytes += take;
        count -= take;
        if (pendingBytes_ < length) continue;
        stretch = pending_;
        taken = 0;
      }
      if (at == lastStretchAt_) {
        FileEnd(stretch, length, xors);
      } else if ((at + kStretchBytes) % regionSize_ == 0) {
        RegionEnd(stretch, xors);
      } else {
        ChosenKernel(false, nullptr)(wholeAcc_, regionAcc_, stretch, 1, XXH3_kSecret, xors);
      }
      if (length == kStretchBytes) std::memcpy(before_, stretch + kStretchBytes - sizeof before_, sizeof before_);
      pendingBytes_ = 0;
      ++xors;
    }
    added_ += taken;
    bytes += taken;
    count -= taken;
  }
}

// A region's last stretch, not the file's: all 16 stripes go into the whole file, the region
// takes 15 of them and then its last 64 bytes as the last stripe, and is done.
void Fingerprinter::RegionEnd(const uint8_t* stretch, uint32_t* xor_) {
  for (size_t s = 0; s < kStretchBytes / kStripe; ++s) {
    Stripe(wholeAcc_, stretch + kStripe * s, XXH3_kSecret + 8 * s);
    if (s + 1 < kStretchBytes / kStripe) Stripe(regionAcc_, stretch + kStripe * s, XXH3_kSecret + 8 * s);
  }
  Stripe(regionAcc_, stretch + kStretchBytes - kStripe, LastStripeKey());
  Scramble(wholeAcc_);
  regions_[regionsDone_++] = Digest(regionAcc_, regionSize_);
  std::memcpy(regionAcc_, kInitialAcc, sizeof regionAcc_);
  *xor_ = WordsXor(stretch, kStretchBytes);
}

// The file's last stretch, 1 to 1024 bytes, ends the whole file and its last region alike.
void Fingerprinter::FileEnd(const uint8_t* stretch, size_t count, uint32_t* xor_) {
  uint8_t last[kStripe];
  if (count >= kStripe) {
    std::memcpy(last, stretch + count - kStripe, kStripe);
  } else {
    std::memcpy(last, before_ + count, kStripe - count);
    std::memcpy(last + kStripe - count, stretch, count);
  }
  const auto finish = [&](uint64_t* acc, uint64_t length) {
    // A short input lies wholly in this stretch, which starts where it starts.
    if (length <= kShortInput) return Xxh3Hash128(stretch, static_cast<size_t>(length));
    for (size_t s = 0; s < (count - 1) / kStripe; ++s) Stripe(acc, stretch + kStripe * s, XXH3_kSecret + 8 * s);
    Stripe(acc, last, LastStripeKey());
    return Digest(acc, length);
  };
  whole_ = finish(wholeAcc_, fileSize_);
  regions_[regionsDone_] = finish(regionAcc_, fileSize_ - regionsDone_ * regionSize_);
  ++regionsDone_;
  *xor_ = WordsXor(stretch, count);
}
