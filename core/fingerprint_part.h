// The fingerprint part of a repair file: the valid file's fingerprint, behind the last repair
// block in both forms, where a reader that knows only the blocks ignores it. Every byte behind
// the last block is the part: none means no fingerprint; anything else must be one whole,
// well-formed part whose own check holds and whose valid size is the header's, or the
// fingerprint is damaged and the repair file is refused before the broken file is touched.
// Version 2 also records the broken file the repair was made for (core/repair_origin.h), which
// a repair checks before its first write; version 3 also names the test file the repair file
// answers and the one that test file followed, so that a stale answer is told from the newest;
// versions 1 and 2, which earlier scans wrote, still read.
//
//   0   8   magic 89 56 46 50 0D 0A 1A 0A, which a text-mode or 7-bit transfer changes
//   8   4   version, 1, 2 or 3
//   12  4   form: 0 every region in order, 1 listed regions
//   16  8   region size (FingerprintRegionSize(S))
//   24  8   valid size S, as in the header
//   32  4   region count R of the valid file
//   36  4   entries E: R for form 0, 1 to R for form 1
//   40  16  XXH3-128 of the whole valid file
//   56  24  versions 2 and 3: the record's fields (B, T, how, K, M), so that the header says the
//           part's whole length
//   80  16  version 3: XXH3-128 of the whole test file answered
//   96  16  version 3: XXH3-128 of the test file the answered one followed (the one the
//           repair file a follow-up follows answered), or zeros
//   56/80/112  E entries: form 0 the region's XXH3-128; form 1 u32 region index (ascending,
//           from 0), then its XXH3-128
//   then    versions 2 and 3: K values of the carried blocks, M samples
//   end 16  check: XXH3-128 of every byte of the part before it
// Numbers are little-endian; hashes are stored most significant byte first, as xxh128sum
// prints them.
#pragma once

#include <cstdint>
#include <vector>

#include "core/fingerprint.h"
#include "core/outcome.h"
#include "core/repair_origin.h"

inline constexpr uint8_t kFingerprintMagic[8] = {0x89, 'V', 'F', 'P', '\r', '\n', 0x1A, '\n'};
inline constexpr uint32_t kFingerprintVersion = 1;
inline constexpr uint32_t kFingerprintOriginVersion = 2;
inline constexpr uint32_t kFingerprintAnswersVersion = 3;
inline constexpr uint32_t kFingerprintHeaderBytes = 56;
inline constexpr uint32_t kAnswerFieldBytes = 2 * kHash128Bytes;
// Room for the header of any version.
inline constexpr uint32_t kLongestFingerprintHeader = kFingerprintHeaderBytes + kOriginFieldBytes + kAnswerFieldBytes;

// Which test file a repair file answers, each by the XXH3-128 of its bytes: the one it was made
// from, and the one that test file followed when it is a follow-up (zeros otherwise).
struct RepairAnswers {
  Hash128 testFile;
  Hash128 earlierTestFile;
};
inline constexpr uint32_t kFingerprintCheckBytes = kHash128Bytes;

// Form 1 carries only the regions a follow-up asked about, so that its repair file stays in
// proportion to the blocks it carries however large the file.
enum class FingerprintForm : uint32_t { EveryRegion = 0, ListedRegions = 1 };

// The part's header as read.
struct FingerprintPart {
  uint32_t version = kFingerprintVersion;
  uint32_t headerBytes = kFingerprintHeaderBytes;
  FingerprintForm form = FingerprintForm::EveryRegion;
  uint64_t regionSize = 0;
  uint64_t validSize = 0;
  uint64_t regionCount = 0;
  uint64_t entries = 0;
  Hash128 whole;
  // Versions 2 and 3: the broken file the repair was made for.
  bool hasOrigin = false;
  RepairOrigin origin;
  // Version 3: what it answers.
  bool hasAnswers = false;
  RepairAnswers answers;
};

uint32_t FingerprintEntryBytes(FingerprintForm form);
// The whole part; origin null for version 1, answers null for versions 1 and 2.
uint64_t FingerprintPartBytes(FingerprintForm form, uint64_t entries, const RepairOrigin* origin = nullptr,
                              const RepairAnswers* answers = nullptr);
// The whole length of a part whose header has been read.
uint64_t FingerprintPartBytes(const FingerprintPart& part);
// The header and the region entries: what a reader keeps in memory, in front of the record's
// values and samples.
uint64_t FingerprintHeadBytes(const FingerprintPart& part);
// Where the record's values and its samples begin in the part.
uint64_t OriginValuesAt(const FingerprintPart& part);
uint64_t OriginSamplesAt(const FingerprintPart& part);

// Writes the part of a valid file of validSize bytes into out (FingerprintPartBytes bytes):
// regions holds the hash of every region; listed, when not null, the ascending indices of the
// listedCount regions form 1 carries. Version 1. Returns its length.
uint64_t StoreFingerprintPart(uint8_t* out, uint64_t validSize, const Hash128& whole, const Hash128* regions,
                              const uint32_t* listed, uint64_t listedCount);
// Version 2, or 3 with answers, the head alone (FingerprintHeadBytes): the values (u32 each)
// and the samples (StoreOriginSample) follow it, then the check, which a writer that has the
// part whole in memory stores with SealFingerprintPart, and one that writes it in pieces takes
// itself.
uint64_t StoreFingerprintHead(uint8_t* out, uint64_t validSize, const Hash128& whole, const Hash128* regions,
                              const uint32_t* listed, uint64_t listedCount, const RepairOrigin& origin,
                              const RepairAnswers* answers = nullptr);
void StoreOriginSample(uint8_t* out, uint32_t block, uint32_t value);
// Stores the check of the checked bytes in front of it; returns the part's length.
uint64_t SealFingerprintPart(uint8_t* out, uint64_t checked);

enum class FingerprintVerdict {
  Absent,   // nothing behind the last repair block
  Read,
  Damaged,  // cut, changed, of another version or of another valid size than the header's
};

// Reads the header from the part's first min(length, kLongestFingerprintHeader) bytes and checks it against the
// part's length and the repair file header's valid size and block count, so that a reader
// knows the part's whole length is sensible before it reads it all.
FingerprintVerdict ReadFingerprintHeader(const uint8_t* start, uint64_t length, uint64_t validSize, uint32_t damagedCount,
                                         FingerprintPart* part);

// The whole part, read: whether its check holds, a listed part names its regions in ascending
// order, each of the file, and the samples of version 2 hold (OriginSamplesHold).
bool FingerprintPartHolds(const uint8_t* bytes, const FingerprintPart& part);
// The same for a reader that keeps only the head: the check (of every byte before it, taken in
// pieces by the caller) is given, and the samples are read apart.
bool FingerprintHeadHolds(const uint8_t* head, const FingerprintPart& part, const uint8_t* samples, const Hash128& checked,
                          const Hash128& check);

// Entry i of a part that holds: the region it is for and its hash.
uint64_t FingerprintEntryRegion(const uint8_t* bytes, const FingerprintPart& part, uint64_t i);
Hash128 FingerprintEntryHash(const uint8_t* bytes, const FingerprintPart& part, uint64_t i);

// Compares a file of fileSize bytes, whose whole hash is whole and whose region hashes (cut at
// the part's region size) are regions, with a part that holds. Verified when the sizes and the
// whole hashes agree and so does every region the part carries; otherwise Differs, with the
// regions of the part found or known to differ in differing, ascending: those whose hash
// differs, every region from the shorter file's end on when the sizes differ, and every region
// the part does not list when the whole differs but none it lists does.
Verification CompareWithFingerprint(const uint8_t* bytes, const FingerprintPart& part, uint64_t fileSize,
                                    const Hash128& whole, const Hash128* regions, std::vector<uint32_t>* differing);

// The byte ranges of these regions of a file of fileSize bytes, neighbours merged into one.
std::vector<ByteRange> RegionRanges(const std::vector<uint32_t>& regions, uint64_t regionSize, uint64_t fileSize);
