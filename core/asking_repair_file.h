// The asking repair file NAME.fix: what the valid side sends back when the compact test file it
// got does not decode (the damage is more than its symbols can take). It names the test file it
// answers and asks for a larger one, sized from the estimator's count of differences. Every
// number is little-endian; 80 bytes in all:
//   0   4   0xFFFFFFFF, the large form's marker
//   4   8   the tag "VNASKING" (core/file_kinds.h)
//   12  4   version, 1
//   16  8   B, as the answered test file records it
//   24  8   the answered test file's length
//   32  16  the answered test file's check (its last 16 bytes)
//   48  8   the differences estimated
//   56  8   the length asked for the next test file: a compact test file's length, or the plain
//           form's length of B, which asks for the plain form
//   64  16  check: XXH3-128 of the 64 bytes before it
#pragma once

#include <cstdint>

#include "core/fingerprint.h"

inline constexpr uint32_t kAskingRepairFileVersion = 1;
inline constexpr uint32_t kAskingRepairFileBytes = 80;

struct AskingRepairFile {
  uint64_t brokenSize = 0;      // B
  uint64_t answeredLength = 0;  // the compact test file answered
  Hash128 answeredCheck;        // its check
  uint64_t estimatedDifferences = 0;
  uint64_t askedLength = 0;
};

// Writes the 80 bytes into out.
void StoreAskingRepairFile(uint8_t* out, const AskingRepairFile& file);
// Reads a file of length bytes: false unless it is exactly 80 bytes of this kind and version,
// its check holds, B is not above the largest exchanged size, the answered length is a compact
// test file's for B (core/compact_test_file.h), and the asked length is above it and not above
// the plain form's length for B, and is either that or a compact test file's length.
bool ReadAskingRepairFile(const uint8_t* bytes, uint64_t length, AskingRepairFile* file);

// The symbols that decode d differences nearly always: 1.4 d + 8 sqrt(d) + 10. Decoding needs
// about 1.35 d symbols for large d and relatively more, and more unevenly, for small d
// (tests/core/sketch_test.cpp measures both).
uint64_t SymbolsToDecode(double differences);

// How much larger than needed the second round asks for, over the estimate: the estimate is
// below 0.75 times the true count in about two cases of a hundred.
inline constexpr double kAskAboveEstimate = 1.35;

// The length to ask for after a compact test file of answeredLength bytes did not decode, with
// estimate differences estimated and found of them peeled before the decoder stopped:
//   d = max(estimate, found + 1), since at least one difference was left;
//   m = max(kAskAboveEstimate * SymbolsToDecode(d), 1.5 * the answered symbols), the second
//       term for when the estimate, too low, asks for hardly more than what already failed;
//   the compact test file of m symbols, or the plain form's length when that is not longer.
// So the second test file is the right size times about 1.35 * estimate / d: with the first
// one mostly far smaller (the damage beyond it, or it would have decoded), both rounds come to
// within 2.5 times a right-sized test file, and the second decodes nearly always
// (tests/core/sketch_test.cpp runs both rounds over a table of damage). 0 when the answered
// file is already as long as the plain form, and nothing longer can be asked for.
uint64_t AskedTestFileLength(uint64_t brokenSize, uint64_t answeredLength, double estimate, uint64_t found);
