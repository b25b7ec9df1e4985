// Writing and reading the test file's header; the entries are plain words behind it.
#include "formats/test_file.h"

#include <cstring>

#include "engine/byte_order.h"

namespace {

uint64_t LoadU64LE(const uint8_t* bytes) { return uint64_t{LoadU32LE(bytes)} | uint64_t{LoadU32LE(bytes + 4)} << 32; }

}  // namespace

bool TestFileCanRecord(uint64_t brokenSize) {
  return brokenSize <= kLargestExchangedSize && brokenSize != kLargeTestFileMarker;
}

uint32_t StoreTestFileHeader(uint8_t* out, uint64_t brokenSize) {
  if (brokenSize < kLargeFormSize) {
    StoreU32LE(out, static_cast<uint32_t>(brokenSize));
    return kTestFileHeaderBytes;
  }
  StoreU32LE(out, kLargeTestFileMarker);
  StoreU32LE(out + 4, static_cast<uint32_t>(brokenSize));
  StoreU32LE(out + 8, static_cast<uint32_t>(brokenSize >> 32));
  return kLargeTestFileHeaderBytes;
}

uint64_t TestFileLength(uint64_t brokenSize) {
  const uint64_t header = brokenSize < kLargeFormSize ? kTestFileHeaderBytes : kLargeTestFileHeaderBytes;
  return header + 4 * BlockCount64(brokenSize);
}

TestFileVerdict ReadTestFileLayout(const uint8_t* start, uint64_t length, bool largeAllowed, TestFileLayout* layout) {
  *layout = TestFileLayout{};
  if (length < kTestFileHeaderBytes) return TestFileVerdict::TooShort;
  const uint32_t first = LoadU32LE(start);
  if (!largeAllowed || first != kLargeTestFileMarker) {
    layout->recordedSize = first;
    layout->entries = (length - kTestFileHeaderBytes) / 4;
    layout->trailingBytes = static_cast<uint32_t>((length - kTestFileHeaderBytes) % 4);
    return TestFileVerdict::Read;
  }
  // The large form is exact: a size that needs it, and one entry per block of that size.
  if (length < kLargeTestFileHeaderBytes) return TestFileVerdict::LargeMalformed;
  const uint64_t size = LoadU64LE(start + 4);
  if (size < kLargeFormSize || size > kLargestExchangedSize || length != TestFileLength(size)) {
    return TestFileVerdict::LargeMalformed;
  }
  layout->large = true;
  layout->recordedSize = size;
  layout->entries = BlockCount64(size);
  layout->headerBytes = kLargeTestFileHeaderBytes;
  return TestFileVerdict::Read;
}

uint32_t TestFileEntry(const uint8_t* entry, uint64_t b, uint64_t entryBytes) {
  const uint64_t offset = 4 * (b - 1);
  if (offset >= entryBytes) return 0;
  if (entryBytes - offset >= 4) return LoadU32LE(entry);
  uint8_t bytes[4] = {};
  std::memcpy(bytes, entry, static_cast<size_t>(entryBytes - offset));
  return LoadU32LE(bytes);
}
