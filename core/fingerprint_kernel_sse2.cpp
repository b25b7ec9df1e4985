// The fingerprint's loop for every x86-64 processor: four 16-byte lanes per 64-byte stripe.
#include <emmintrin.h>

#include "core/fingerprint_kernels.h"

namespace {

constexpr uint32_t kPrime32 = 0x9E3779B1u;

inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// One lane's share of a stripe: the data with its two 64-bit halves swapped, plus the product of
// the low and high 32 bits of each half of data ^ key.
inline __m128i Contribution(__m128i data, __m128i key) {
  const __m128i mixed = _mm_xor_si128(data, key);
  const __m128i high = _mm_shuffle_epi32(mixed, _MM_SHUFFLE(0, 3, 0, 1));
  return _mm_add_epi64(_mm_mul_epu32(mixed, high), _mm_shuffle_epi32(data, _MM_SHUFFLE(1, 0, 3, 2)));
}

inline __m128i Scramble(__m128i acc, __m128i key) {
  const __m128i mixed = _mm_xor_si128(_mm_xor_si128(acc, _mm_srli_epi64(acc, 47)), key);
  const __m128i prime = _mm_set1_epi32(static_cast<int>(kPrime32));
  const __m128i low = _mm_mul_epu32(mixed, prime);
  const __m128i high = _mm_mul_epu32(_mm_shuffle_epi32(mixed, _MM_SHUFFLE(0, 3, 0, 1)), prime);
  return _mm_add_epi64(low, _mm_slli_epi64(high, 32));
}

}  // namespace

void AccumulateStretchesSse2(uint64_t* whole, uint64_t* region, const uint8_t* bytes, size_t stretches,
                             const uint8_t* secret, uint32_t* xors) {
  __m128i w[4], r[4];
  for (int i = 0; i < 4; ++i) {
    w[i] = Load(whole + 2 * i);
    r[i] = Load(region + 2 * i);
  }
  for (size_t n = 0; n < stretches; ++n, bytes += kStretchBytes) {
    __m128i x = _mm_setzero_si128();
    for (int s = 0; s < 16; ++s) {
      for (int i = 0; i < 4; ++i) {
        const __m128i data = Load(bytes + 64 * s + 16 * i);
        const __m128i add = Contribution(data, Load(secret + 8 * s + 16 * i));
        x = _mm_xor_si128(x, data);
        w[i] = _mm_add_epi64(w[i], add);
        r[i] = _mm_add_epi64(r[i], add);
      }
    }
    for (int i = 0; i < 4; ++i) {
      const __m128i key = Load(secret + 128 + 16 * i);
      w[i] = Scramble(w[i], key);
      r[i] = Scramble(r[i], key);
    }
    x = _mm_xor_si128(x, _mm_srli_si128(x, 8));
    x = _mm_xor_si128(x, _mm_srli_si128(x, 4));
    xors[n] = static_cast<uint32_t>(_mm_cvtsi128_si32(x));
  }
  for (int i = 0; i < 4; ++i) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(whole + 2 * i), w[i]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(region + 2 * i), r[i]);
  }
}
