// Writing and reading the asking repair file, and the size of the test file it asks for.
#include "core/asking_repair_file.h"

#include <algorithm>
#include <cmath>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/compact_test_file.h"
#include "core/file_kinds.h"
#include "core/test_file.h"

namespace {

constexpr uint32_t kCheckAt = kAskingRepairFileBytes - kHash128Bytes;

// Whether length is a compact test file's for a broken file of this size.
bool CompactLengthFor(uint64_t length, uint64_t brokenSize) {
  return length >= CompactTestFileLength(1) && (length - CompactTestFileLength(0)) % kCompactSymbolBytes == 0 &&
         length <= CompactTestFileLength(kMostSymbols) && length <= TestFileLength(brokenSize);
}

}  // namespace

void StoreAskingRepairFile(uint8_t* out, const AskingRepairFile& file) {
  StoreExchangeFileTag(out, ExchangeFileKind::AskingRepairFile);
  StoreU32LE(out + 12, kAskingRepairFileVersion);
  StoreU64LE(out + 16, file.brokenSize);
  StoreU64LE(out + 24, file.answeredLength);
  StoreHash128(out + 32, file.answeredCheck);
  StoreU64LE(out + 48, file.estimatedDifferences);
  StoreU64LE(out + 56, file.askedLength);
  StoreHash128(out + kCheckAt, Xxh3Hash128(out, kCheckAt));
}

bool ReadAskingRepairFile(const uint8_t* bytes, uint64_t length, AskingRepairFile* file) {
  *file = AskingRepairFile{};
  if (length != kAskingRepairFileBytes || ReadExchangeFileKind(bytes, length) != ExchangeFileKind::AskingRepairFile ||
      LoadU32LE(bytes + 12) != kAskingRepairFileVersion || LoadHash128(bytes + kCheckAt) != Xxh3Hash128(bytes, kCheckAt)) {
    return false;
  }
  const AskingRepairFile read{LoadU64LE(bytes + 16), LoadU64LE(bytes + 24), LoadHash128(bytes + 32), LoadU64LE(bytes + 48),
                              LoadU64LE(bytes + 56)};
  if (read.brokenSize > kLargestExchangedSize || !CompactLengthFor(read.answeredLength, read.brokenSize) ||
      read.askedLength <= read.answeredLength ||
      (read.askedLength != TestFileLength(read.brokenSize) && !CompactLengthFor(read.askedLength, read.brokenSize))) {
    return false;
  }
  *file = read;
  return true;
}

uint64_t SymbolsToDecode(double differences) {
  const double d = std::max(differences, 0.0);
  return static_cast<uint64_t>(std::ceil(1.4 * d + 8 * std::sqrt(d) + 10));
}

uint64_t AskedTestFileLength(uint64_t brokenSize, uint64_t answeredLength, double estimate, uint64_t found) {
  const uint64_t plain = TestFileLength(brokenSize);
  if (answeredLength >= plain) return 0;
  const uint64_t answered = answeredLength > CompactTestFileLength(0)
                                ? (answeredLength - CompactTestFileLength(0)) / kCompactSymbolBytes
                                : 0;
  const double differences = std::max(estimate, static_cast<double>(found) + 1);
  const double fromEstimate = std::ceil(kAskAboveEstimate * static_cast<double>(SymbolsToDecode(differences)));
  const double symbols = std::max(fromEstimate, std::ceil(1.5 * static_cast<double>(answered)));
  if (symbols >= kMostSymbols) return plain;
  const uint64_t compact = CompactTestFileLength(static_cast<uint32_t>(symbols));
  return compact < plain ? compact : plain;
}
