// Writing, reading and comparing the fingerprint part.
#include "core/fingerprint_part.h"

#include <cstring>

#include "core/byte_order.h"

namespace {

constexpr uint32_t kRegionIndexBytes = 4;

uint64_t EntryAt(const FingerprintPart& part, uint64_t i) {
  return part.headerBytes + uint64_t{FingerprintEntryBytes(part.form)} * i;
}

// The header and the entries; returns their length.
uint64_t StoreHead(uint8_t* out, uint64_t validSize, const Hash128& whole, const Hash128* regions, const uint32_t* listed,
                   uint64_t listedCount, const RepairOrigin* origin, const RepairAnswers* answers) {
  FingerprintPart part;
  part.version = answers != nullptr ? kFingerprintAnswersVersion : origin != nullptr ? kFingerprintOriginVersion : kFingerprintVersion;
  part.headerBytes = kFingerprintHeaderBytes + (origin != nullptr ? kOriginFieldBytes : 0) + (answers != nullptr ? kAnswerFieldBytes : 0);
  part.form = listed != nullptr ? FingerprintForm::ListedRegions : FingerprintForm::EveryRegion;
  part.regionCount = FingerprintRegionCount(validSize);
  part.entries = listed != nullptr ? listedCount : part.regionCount;
  std::memcpy(out, kFingerprintMagic, sizeof kFingerprintMagic);
  StoreU32LE(out + 8, part.version);
  StoreU32LE(out + 12, static_cast<uint32_t>(part.form));
  StoreU64LE(out + 16, FingerprintRegionSize(validSize));
  StoreU64LE(out + 24, validSize);
  StoreU32LE(out + 32, static_cast<uint32_t>(part.regionCount));
  StoreU32LE(out + 36, static_cast<uint32_t>(part.entries));
  StoreHash128(out + 40, whole);
  if (origin != nullptr) StoreOriginFields(out + kFingerprintHeaderBytes, *origin);
  if (answers != nullptr) {
    StoreHash128(out + kFingerprintHeaderBytes + kOriginFieldBytes, answers->testFile);
    StoreHash128(out + kFingerprintHeaderBytes + kOriginFieldBytes + kHash128Bytes, answers->earlierTestFile);
  }
  for (uint64_t i = 0; i < part.entries; ++i) {
    uint8_t* entry = out + EntryAt(part, i);
    if (listed != nullptr) {
      StoreU32LE(entry, listed[i]);
      StoreHash128(entry + kRegionIndexBytes, regions[listed[i]]);
    } else {
      StoreHash128(entry, regions[i]);
    }
  }
  return EntryAt(part, part.entries);
}

bool EntriesHold(const uint8_t* bytes, const FingerprintPart& part) {
  if (part.form == FingerprintForm::EveryRegion) return true;
  for (uint64_t i = 0; i < part.entries; ++i) {
    const uint64_t region = FingerprintEntryRegion(bytes, part, i);
    if (region >= part.regionCount || (i > 0 && region <= FingerprintEntryRegion(bytes, part, i - 1))) return false;
  }
  return true;
}

}  // namespace

uint32_t FingerprintEntryBytes(FingerprintForm form) {
  return form == FingerprintForm::ListedRegions ? kRegionIndexBytes + kHash128Bytes : kHash128Bytes;
}

uint64_t FingerprintPartBytes(FingerprintForm form, uint64_t entries, const RepairOrigin* origin, const RepairAnswers* answers) {
  const uint64_t record = origin != nullptr ? kOriginFieldBytes + OriginListBytes(*origin) : 0;
  const uint64_t answered = answers != nullptr ? kAnswerFieldBytes : 0;
  return kFingerprintHeaderBytes + FingerprintEntryBytes(form) * entries + record + answered + kFingerprintCheckBytes;
}

uint64_t FingerprintPartBytes(const FingerprintPart& part) {
  return FingerprintPartBytes(part.form, part.entries, part.hasOrigin ? &part.origin : nullptr,
                              part.hasAnswers ? &part.answers : nullptr);
}

uint64_t FingerprintHeadBytes(const FingerprintPart& part) { return EntryAt(part, part.entries); }

uint64_t OriginValuesAt(const FingerprintPart& part) { return FingerprintHeadBytes(part); }

uint64_t OriginSamplesAt(const FingerprintPart& part) { return OriginValuesAt(part) + 4 * uint64_t{part.origin.carried}; }

uint64_t StoreFingerprintPart(uint8_t* out, uint64_t validSize, const Hash128& whole, const Hash128* regions,
                              const uint32_t* listed, uint64_t listedCount) {
  return SealFingerprintPart(out, StoreHead(out, validSize, whole, regions, listed, listedCount, nullptr, nullptr));
}

uint64_t StoreFingerprintHead(uint8_t* out, uint64_t validSize, const Hash128& whole, const Hash128* regions,
                              const uint32_t* listed, uint64_t listedCount, const RepairOrigin& origin,
                              const RepairAnswers* answers) {
  return StoreHead(out, validSize, whole, regions, listed, listedCount, &origin, answers);
}

void StoreOriginSample(uint8_t* out, uint32_t block, uint32_t value) {
  StoreU32LE(out, block);
  StoreU32LE(out + 4, value);
}

uint64_t SealFingerprintPart(uint8_t* out, uint64_t checked) {
  StoreHash128(out + checked, Xxh3Hash128(out, static_cast<size_t>(checked)));
  return checked + kFingerprintCheckBytes;
}

FingerprintVerdict ReadFingerprintHeader(const uint8_t* start, uint64_t length, uint64_t validSize, uint32_t damagedCount,
                                         FingerprintPart* part) {
  *part = FingerprintPart{};
  if (length == 0) return FingerprintVerdict::Absent;
  if (length < FingerprintPartBytes(FingerprintForm::EveryRegion, 0) ||
      std::memcmp(start, kFingerprintMagic, sizeof kFingerprintMagic) != 0) {
    return FingerprintVerdict::Damaged;
  }
  part->version = LoadU32LE(start + 8);
  if (part->version == kFingerprintOriginVersion || part->version == kFingerprintAnswersVersion) {
    part->hasAnswers = part->version == kFingerprintAnswersVersion;
    part->headerBytes = kFingerprintHeaderBytes + kOriginFieldBytes + (part->hasAnswers ? kAnswerFieldBytes : 0);
    if (length < part->headerBytes + kFingerprintCheckBytes ||
        !LoadOriginFields(start + kFingerprintHeaderBytes, validSize, damagedCount, &part->origin)) {
      return FingerprintVerdict::Damaged;
    }
    part->hasOrigin = true;
    if (part->hasAnswers) {
      part->answers.testFile = LoadHash128(start + kFingerprintHeaderBytes + kOriginFieldBytes);
      part->answers.earlierTestFile = LoadHash128(start + kFingerprintHeaderBytes + kOriginFieldBytes + kHash128Bytes);
    }
  } else if (part->version != kFingerprintVersion) {
    return FingerprintVerdict::Damaged;
  }
  const uint32_t form = LoadU32LE(start + 12);
  if (form > static_cast<uint32_t>(FingerprintForm::ListedRegions)) return FingerprintVerdict::Damaged;
  part->form = static_cast<FingerprintForm>(form);
  part->regionSize = LoadU64LE(start + 16);
  part->validSize = LoadU64LE(start + 24);
  part->regionCount = LoadU32LE(start + 32);
  part->entries = LoadU32LE(start + 36);
  part->whole = LoadHash128(start + 40);
  const bool entriesFit = part->form == FingerprintForm::EveryRegion
                              ? part->entries == part->regionCount
                              : part->entries >= 1 && part->entries <= part->regionCount;
  if (part->validSize != validSize || part->regionSize != FingerprintRegionSize(validSize) ||
      part->regionCount != FingerprintRegionCount(validSize) || !entriesFit ||
      length != FingerprintPartBytes(*part)) {
    return FingerprintVerdict::Damaged;
  }
  return FingerprintVerdict::Read;
}

bool FingerprintPartHolds(const uint8_t* bytes, const FingerprintPart& part) {
  const uint64_t checked = FingerprintPartBytes(part) - kFingerprintCheckBytes;
  return FingerprintHeadHolds(bytes, part, bytes + OriginSamplesAt(part), Xxh3Hash128(bytes, static_cast<size_t>(checked)),
                              LoadHash128(bytes + checked));
}

bool FingerprintHeadHolds(const uint8_t* head, const FingerprintPart& part, const uint8_t* samples, const Hash128& checked,
                          const Hash128& check) {
  return checked == check && EntriesHold(head, part) &&
         (!part.hasOrigin || OriginSamplesHold(samples, part.origin, part.validSize));
}

uint64_t FingerprintEntryRegion(const uint8_t* bytes, const FingerprintPart& part, uint64_t i) {
  return part.form == FingerprintForm::ListedRegions ? LoadU32LE(bytes + EntryAt(part, i)) : i;
}

Hash128 FingerprintEntryHash(const uint8_t* bytes, const FingerprintPart& part, uint64_t i) {
  const uint32_t index = part.form == FingerprintForm::ListedRegions ? kRegionIndexBytes : 0;
  return LoadHash128(bytes + EntryAt(part, i) + index);
}

Verification CompareWithFingerprint(const uint8_t* bytes, const FingerprintPart& part, uint64_t fileSize,
                                    const Hash128& whole, const Hash128* regions, std::vector<uint32_t>* differing) {
  differing->clear();
  const uint64_t fileRegions = fileSize / part.regionSize + (fileSize % part.regionSize != 0 ? 1 : 0);
  // A region the shorter file ends in or lacks differs, whatever its hash.
  const uint64_t sameUpTo = fileSize == part.validSize ? part.regionCount : (fileSize < part.validSize ? fileSize : part.validSize) / part.regionSize;
  std::vector<bool> listed(part.form == FingerprintForm::ListedRegions ? part.regionCount : 0, false);
  for (uint64_t i = 0; i < part.entries; ++i) {
    const uint64_t r = FingerprintEntryRegion(bytes, part, i);
    if (!listed.empty()) listed[r] = true;
    if (r < sameUpTo && regions[r] != FingerprintEntryHash(bytes, part, i)) differing->push_back(static_cast<uint32_t>(r));
  }
  const uint64_t allRegions = fileRegions > part.regionCount ? fileRegions : part.regionCount;
  for (uint64_t r = sameUpTo; r < allRegions; ++r) differing->push_back(static_cast<uint32_t>(r));
  if (differing->empty() && whole == part.whole && fileSize == part.validSize) return Verification::Verified;
  // Different somewhere the part has no region hash for, or nowhere a region can tell.
  if (differing->empty()) {
    for (uint64_t r = 0; r < part.regionCount; ++r) {
      if (listed.empty() || !listed[r]) differing->push_back(static_cast<uint32_t>(r));
    }
  }
  return Verification::Differs;
}

std::vector<ByteRange> RegionRanges(const std::vector<uint32_t>& regions, uint64_t regionSize, uint64_t fileSize) {
  std::vector<ByteRange> ranges;
  for (const uint32_t r : regions) {
    const uint64_t first = uint64_t{r} * regionSize;
    if (first >= fileSize) break;
    const uint64_t last = (first + regionSize < fileSize ? first + regionSize : fileSize) - 1;
    if (!ranges.empty() && ranges.back().last + 1 == first) {
      ranges.back().last = last;
    } else {
      ranges.push_back(ByteRange{first, last});
    }
  }
  return ranges;
}
