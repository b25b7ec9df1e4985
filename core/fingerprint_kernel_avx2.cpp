// The fingerprint's loop for processors with AVX2: two 32-byte lanes per 64-byte stripe. This
// file alone is compiled for AVX2 and includes nothing that could be shared with the rest of
// the program, so no code for AVX2 runs where the processor lacks it.
#include <immintrin.h>

#include "core/fingerprint_kernels.h"

namespace {

constexpr uint32_t kPrime32 = 0x9E3779B1u;

inline __m256i Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }

inline __m256i Contribution(__m256i data, __m256i key) {
  const __m256i mixed = _mm256_xor_si256(data, key);
  const __m256i high = _mm256_shuffle_epi32(mixed, _MM_SHUFFLE(0, 3, 0, 1));
  return _mm256_add_epi64(_mm256_mul_epu32(mixed, high), _mm256_shuffle_epi32(data, _MM_SHUFFLE(1, 0, 3, 2)));
}

inline __m256i Scramble(__m256i acc, __m256i key) {
  const __m256i mixed = _mm256_xor_si256(_mm256_xor_si256(acc, _mm256_srli_epi64(acc, 47)), key);
  const __m256i prime = _mm256_set1_epi32(static_cast<int>(kPrime32));
  const __m256i low = _mm256_mul_epu32(mixed, prime);
  const __m256i high = _mm256_mul_epu32(_mm256_shuffle_epi32(mixed, _MM_SHUFFLE(0, 3, 0, 1)), prime);
  return _mm256_add_epi64(low, _mm256_slli_epi64(high, 32));
}

}  // namespace

void AccumulateStretchesAvx2(uint64_t* whole, uint64_t* region, const uint8_t* bytes, size_t stretches,
                             const uint8_t* secret, uint32_t* xors) {
  __m256i w0 = Load(whole), w1 = Load(whole + 4), r0 = Load(region), r1 = Load(region + 4);
  for (size_t n = 0; n < stretches; ++n, bytes += kStretchBytes) {
    __m256i x0 = _mm256_setzero_si256(), x1 = _mm256_setzero_si256();
    for (int s = 0; s < 16; ++s) {
      const __m256i d0 = Load(bytes + 64 * s), d1 = Load(bytes + 64 * s + 32);
      const __m256i a0 = Contribution(d0, Load(secret + 8 * s));
      const __m256i a1 = Contribution(d1, Load(secret + 8 * s + 32));
      x0 = _mm256_xor_si256(x0, d0);
      x1 = _mm256_xor_si256(x1, d1);
      w0 = _mm256_add_epi64(w0, a0);
      w1 = _mm256_add_epi64(w1, a1);
      r0 = _mm256_add_epi64(r0, a0);
      r1 = _mm256_add_epi64(r1, a1);
    }
    const __m256i k0 = Load(secret + 128), k1 = Load(secret + 160);
    w0 = Scramble(w0, k0);
    w1 = Scramble(w1, k1);
    r0 = Scramble(r0, k0);
    r1 = Scramble(r1, k1);
    __m128i x = _mm_xor_si128(_mm256_castsi256_si128(_mm256_xor_si256(x0, x1)),
                              _mm256_extracti128_si256(_mm256_xor_si256(x0, x1), 1));
    x = _mm_xor_si128(x, _mm_srli_si128(x, 8));
    x = _mm_xor_si128(x, _mm_srli_si128(x, 4));
    xors[n] = static_cast<uint32_t>(_mm_cvtsi128_si32(x));
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(whole), w0);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(whole + 4), w1);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(region), r0);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(region + 4), r1);
}
