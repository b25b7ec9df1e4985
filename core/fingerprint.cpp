// Fingerprints through XXH3. The library's header is compiled in whole, so the hash needs no
// library at run time and the Windows program stays one file.
#include "core/fingerprint.h"

#include <new>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

Hash128 FromXxh(const XXH128_hash_t& hash) { return Hash128{hash.high64, hash.low64}; }

}  // namespace

// Two hash states, one for the whole file and one for the region under way; the library wants
// them aligned, which operator new of an aligned type gives.
struct Fingerprinter::States {
  XXH3_state_t whole;
  XXH3_state_t region;
};

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

Fingerprinter::Fingerprinter(uint64_t fileSize)
    : fileSize_(fileSize), regionSize_(FingerprintRegionSize(fileSize)), states_(new States) {
  XXH3_128bits_reset(&states_->whole);
  XXH3_128bits_reset(&states_->region);
  regions_.reserve(FingerprintRegionCount(fileSize));
}

Fingerprinter::~Fingerprinter() = default;

void Fingerprinter::Add(const uint8_t* bytes, size_t count) {
  XXH3_128bits_update(&states_->whole, bytes, count);
  while (count > 0) {
    // The bytes up to the end of the region under way.
    const uint64_t intoRegion = added_ % regionSize_;
    const size_t take = static_cast<size_t>(regionSize_ - intoRegion < count ? regionSize_ - intoRegion : count);
    XXH3_128bits_update(&states_->region, bytes, take);
    added_ += take;
    bytes += take;
    count -= take;
    if (added_ % regionSize_ == 0 || added_ == fileSize_) {
      regions_.push_back(FromXxh(XXH3_128bits_digest(&states_->region)));
      XXH3_128bits_reset(&states_->region);
    }
  }
}

Hash128 Fingerprinter::Whole() const { return FromXxh(XXH3_128bits_digest(&states_->whole)); }
