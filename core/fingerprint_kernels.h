// The loop the fingerprint spends its time in, in two builds: one for every x86-64 processor
// (SSE2) and one for those with AVX2, chosen at run time. Each takes whole 1024-byte stretches
// of a file that end neither a region nor the file, and runs them through XXH3's long-input
// accumulation twice at once: into the whole file's accumulators and into the region's. A
// region starts at a multiple of 1024, so both see each stretch at the same secret offsets and
// one product serves both. The same pass gives each stretch's exclusive-or of its 256 words,
// from which the block checksums are put together. Private to core/fingerprint.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kStretchBytes = 1024;

// whole, region: the 8 accumulators of each; secret: XXH3's default 192-byte secret; xors: one
// word per stretch.
using AccumulateStretches = void (*)(uint64_t* whole, uint64_t* region, const uint8_t* bytes, size_t stretches,
                                     const uint8_t* secret, uint32_t* xors);

void AccumulateStretchesSse2(uint64_t* whole, uint64_t* region, const uint8_t* bytes, size_t stretches,
                             const uint8_t* secret, uint32_t* xors);
void AccumulateStretchesAvx2(uint64_t* whole, uint64_t* region, const uint8_t* bytes, size_t stretches,
                             const uint8_t* secret, uint32_t* xors);
