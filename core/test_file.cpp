// Writing and reading the test file's header; the entries are plain words behind it.
#include "core/test_file.h"

#include <cstring>

#include "core/byte_order.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"

bool TestFileCanRecord(uint64_t brokenSize) {
  return brokenSize <= kLargestExchangedSize && brokenSize != kLargeTestFileMarker;
}

TestFileForm TestFileFormFor(uint64_t brokenSize) {
  return brokenSize < kLargeFormSize ? TestFileForm::Small : TestFileForm::Large;
}

uint32_t TestFileHeaderBytes(TestFileForm form) {
  switch (form) {
    case TestFileForm::Small: return kTestFileHeaderBytes;
    case TestFileForm::Large: return kLargeTestFileHeaderBytes;
    case TestFileForm::FollowUp: return kFollowUpHeaderBytes;
  }
  return kTestFileHeaderBytes;
}

uint32_t StoreTestFileHeader(uint8_t* out, uint64_t brokenSize) {
  const TestFileForm form = TestFileFormFor(brokenSize);
  switch (form) {
    case TestFileForm::Small:
      StoreU32LE(out, static_cast<uint32_t>(brokenSize));
      break;
    case TestFileForm::Large:
      StoreU32LE(out, kLargeTestFileMarker);
      StoreU64LE(out + 4, brokenSize);
      break;
    case TestFileForm::FollowUp:  // no size alone asks for it: StoreFollowUpHeader writes it
      break;
  }
  return TestFileHeaderBytes(form);
}

uint64_t TestFileLength(uint64_t brokenSize) {
  return TestFileHeaderBytes(TestFileFormFor(brokenSize)) + 4 * BlockCount64(brokenSize);
}

uint64_t SmallTestFileEntries(uint64_t length) {
  return length < kTestFileHeaderBytes ? UINT64_MAX : (length - kTestFileHeaderBytes) / 4;
}

TestFileVerdict ReadTestFileLayout(const uint8_t* start, uint64_t length, bool largeAllowed, TestFileLayout* layout) {
  *layout = TestFileLayout{};
  if (length < kTestFileHeaderBytes) return TestFileVerdict::TooShort;
  const uint32_t first = LoadU32LE(start);
  layout->recordedSize = first;
  if (!largeAllowed || first != kLargeTestFileMarker) {
    layout->entries = SmallTestFileEntries(length);
    layout->trailingBytes = static_cast<uint32_t>((length - kTestFileHeaderBytes) % 4);
    return TestFileVerdict::Read;
  }
  // The large form is exact: a size that needs it, and one entry per block of that size.
  layout->form = TestFileForm::Large;
  layout->headerBytes = kLargeTestFileHeaderBytes;
  if (length < kLargeTestFileHeaderBytes) return TestFileVerdict::LargeMalformed;
  const uint64_t size = LoadU64LE(start + 4);
  layout->recordedSize = size;
  if (size < kLargeFormSize || size > kLargestExchangedSize || length != TestFileLength(size)) {
    return TestFileVerdict::LargeMalformed;
  }
  layout->entries = BlockCount64(size);
  return TestFileVerdict::Read;
}

bool TestFileIsExact(const TestFileLayout& layout) {
  return layout.trailingBytes == 0 && layout.entries == BlockCount64(layout.recordedSize);
}

uint32_t TestFileEntry(const uint8_t* entry, uint64_t b, uint64_t entryBytes) {
  const uint64_t offset = 4 * (b - 1);
  if (offset >= entryBytes) return 0;
  if (entryBytes - offset >= 4) return LoadU32LE(entry);
  uint8_t bytes[4] = {};
  std::memcpy(bytes, entry, static_cast<size_t>(entryBytes - offset));
  return LoadU32LE(bytes);
}

FollowUpLayout FollowUpLayoutFor(uint64_t size, uint64_t regions, const FollowedRepair* followed) {
  FollowUpLayout layout;
  layout.size = size;
  layout.regionSize = FingerprintRegionSize(size);
  layout.regionCount = FingerprintRegionCount(size);
  layout.regions = regions;
  if (followed != nullptr) {
    layout.headerBytes = kLongestFollowUpHeader;
    layout.hasFollowed = true;
    layout.followed = *followed;
  }
  return layout;
}

uint64_t FollowUpLength(const FollowUpLayout& layout) {
  return layout.headerBytes + layout.regions * layout.RecordBytes() + kFollowUpCheckBytes;
}

uint32_t StoreFollowUpHeader(uint8_t* out, const FollowUpLayout& layout) {
  StoreExchangeFileTag(out, ExchangeFileKind::FollowUpTestFile);
  StoreU32LE(out + kTagBytes, layout.hasFollowed ? kFollowUpFollowsVersion : kFollowUpVersion);
  StoreU64LE(out + 16, layout.size);
  StoreU64LE(out + 24, layout.regionSize);
  StoreU32LE(out + 32, static_cast<uint32_t>(layout.regions));
  if (layout.hasFollowed) {
    StoreHash128(out + kFollowUpHeaderBytes, layout.followed.repairFile);
    StoreHash128(out + kFollowUpHeaderBytes + kHash128Bytes, layout.followed.testFile);
  }
  return layout.headerBytes;
}

void StoreBlockHashes(uint8_t* out, const uint8_t* bytes, uint32_t blocks) {
  for (uint32_t b = 0; b < blocks; ++b) StoreU64LE(out + 8 * b, Xxh3Hash64(bytes + uint64_t{b} * kBlockSize, kBlockSize));
}

bool ReadFollowUpLayout(const uint8_t* start, uint64_t length, FollowUpLayout* layout) {
  *layout = FollowUpLayout{};
  if (length < kFollowUpHeaderBytes) return false;
  const uint32_t version = LoadU32LE(start + kTagBytes);
  if ((version != kFollowUpVersion && version != kFollowUpFollowsVersion) ||
      (version == kFollowUpFollowsVersion && length < kLongestFollowUpHeader)) {
    return false;
  }
  const uint64_t size = LoadU64LE(start + 16);
  if (size == 0 || size > kLargestExchangedSize || LoadU64LE(start + 24) != FingerprintRegionSize(size)) return false;
  FollowedRepair followed;
  if (version == kFollowUpFollowsVersion) {
    followed.repairFile = LoadHash128(start + kFollowUpHeaderBytes);
    followed.testFile = LoadHash128(start + kFollowUpHeaderBytes + kHash128Bytes);
  }
  *layout = FollowUpLayoutFor(size, LoadU32LE(start + 32), version == kFollowUpFollowsVersion ? &followed : nullptr);
  return layout->regions >= 1 && layout->regions <= layout->regionCount && length == FollowUpLength(*layout);
}
