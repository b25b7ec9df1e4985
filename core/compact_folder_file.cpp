// The compact folder test file's elements, its layout, and the folder's asking repair file.
#include "core/compact_folder_file.h"

#include <algorithm>
#include <cmath>

#include "core/byte_order.h"
#include "core/compact_test_file.h"
#include "core/file_kinds.h"
#include "core/ntfs_upcase.h"
#include "core/utf8.h"

namespace {

constexpr uint32_t kAskingCheckAt = kAskingRepairFileBytes - kHash128Bytes;

uint64_t CheckAt(uint32_t symbols) { return kCompactFolderSymbolsAt + uint64_t{kCompactSymbolBytes} * symbols; }

bool CompactLengthBelow(uint64_t length, uint64_t plainLength) {
  return length >= CompactFolderLength(1) && (length - CompactFolderLength(0)) % kCompactSymbolBytes == 0 &&
         length <= CompactFolderLength(kMostSymbols) && length < plainLength;
}

}  // namespace

uint64_t FoldedPathHash(std::string_view path) {
  // The fixed table on every system, so that both sides key a name alike; a text that is not
  // UTF-8 (no exchange file carries one) is hashed as it is.
  std::string folded;
  folded.reserve(path.size());
  for (size_t at = 0; at < path.size();) {
    uint32_t code;
    if (!NextCodePoint(path, &at, &code)) return Xxh3Hash64(path.data(), path.size());
    AppendUtf8(&folded, code < 0x10000 ? NtfsUpcase(static_cast<uint16_t>(code)) : code);
  }
  return Xxh3Hash64(folded.data(), folded.size());
}

uint64_t FolderElementKey(FolderElement kind, uint64_t pathHash, uint64_t number) {
  uint8_t bytes[16];
  StoreU64LE(bytes, pathHash);
  StoreU64LE(bytes + 8, number);
  return (static_cast<uint64_t>(kind) << 58) | (Xxh3Hash64(bytes, sizeof bytes) >> 6);
}

uint64_t StoreEntryValue(const EntryValue& value) {
  switch (value.kind) {
    case 1: return kFolderValue;
    case 2: return kFileValueBase + value.size;
    default: return 1 + value.reason;
  }
}

bool LoadEntryValue(uint64_t stored, EntryValue* value) {
  *value = EntryValue{};
  if (stored == kFolderValue) {
    value->kind = 1;
  } else if (stored >= 2 && stored <= 4) {
    value->kind = 3;
    value->reason = static_cast<uint8_t>(stored - 1);
  } else if (stored >= kFileValueBase && stored - kFileValueBase <= (uint64_t{1} << 60)) {
    value->kind = 2;
    value->size = stored - kFileValueBase;
  } else {
    return false;
  }
  return true;
}

uint64_t HashValue(uint64_t hash) {
  const uint64_t value = hash % kFieldPrime;
  return value == 0 ? 1 : value;
}

uint64_t NameValue(std::string_view name) { return HashValue(Xxh3Hash64(name.data(), name.size())); }

uint64_t FingerprintValue(const Hash128& fingerprint) { return HashValue(fingerprint.low ^ (fingerprint.high << 1)); }

uint64_t CompactFolderLength(uint32_t symbols) { return CheckAt(symbols) + kHash128Bytes; }

uint32_t CompactFolderSymbolsForBudget(uint64_t bytes) {
  if (bytes < kCompactSmallestBudget) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>((bytes - CompactFolderLength(0)) / kCompactSymbolBytes, kMostSymbols));
}

uint32_t DefaultCompactFolderSymbols(uint64_t plainLength) {
  return CompactFolderSymbolsForBudget(std::max(kCompactDefaultFloor, plainLength / 256));
}

std::vector<uint8_t> StoreCompactFolderTestFile(const CompactFolderHeader& header, const Sketch& sketch) {
  std::vector<uint8_t> bytes(CompactFolderLength(sketch.SymbolCount()));
  uint8_t* out = bytes.data();
  StoreExchangeFileTag(out, ExchangeFileKind::CompactFolderTestFile);
  StoreU32LE(out + 12, kCompactFolderVersion);
  StoreU32LE(out + 16, header.flags);
  StoreU64LE(out + 20, header.plainLength);
  StoreU32LE(out + 28, sketch.SymbolCount());
  StoreU32LE(out + 32, kEstimatorLevels);
  StoreU32LE(out + 36, kEstimatorCellsPerLevel);
  StoreEstimatorCells(out + kCompactFolderHeaderBytes, sketch.Cells());
  for (uint32_t i = 0; i < sketch.SymbolCount(); ++i) {
    StoreCodedSymbol(out + kCompactFolderSymbolsAt + uint64_t{kCompactSymbolBytes} * i, sketch.Symbols()[i]);
  }
  const uint64_t checkAt = CheckAt(sketch.SymbolCount());
  StoreHash128(out + checkAt, Xxh3Hash128(out, checkAt));
  return bytes;
}

bool ReadCompactFolderHeader(const uint8_t* start, uint64_t length, CompactFolderHeader* header) {
  *header = CompactFolderHeader{};
  if (length < kCompactFolderHeaderBytes || ReadExchangeFileKind(start, length) != ExchangeFileKind::CompactFolderTestFile ||
      LoadU32LE(start + 12) != kCompactFolderVersion || LoadU32LE(start + 32) != kEstimatorLevels ||
      LoadU32LE(start + 36) != kEstimatorCellsPerLevel) {
    return false;
  }
  const CompactFolderHeader read{LoadU32LE(start + 16), LoadU64LE(start + 20), LoadU32LE(start + 28)};
  if (read.symbols == 0 || read.symbols > kMostSymbols || length != CompactFolderLength(read.symbols) ||
      length > read.plainLength) {
    return false;
  }
  *header = read;
  return true;
}

bool ReadCompactFolderTestFile(const uint8_t* bytes, uint64_t length, CompactFolderHeader* header,
                               std::optional<Sketch>* sketch) {
  sketch->reset();
  if (!ReadCompactFolderHeader(bytes, length, header)) return false;
  const uint64_t checkAt = CheckAt(header->symbols);
  if (LoadHash128(bytes + checkAt) != Xxh3Hash128(bytes, checkAt)) return false;
  sketch->emplace(header->symbols);
  LoadEstimatorCells(bytes + kCompactFolderHeaderBytes, &(*sketch)->Cells());
  for (uint32_t i = 0; i < header->symbols; ++i) {
    if (!LoadCodedSymbol(bytes + kCompactFolderSymbolsAt + uint64_t{kCompactSymbolBytes} * i, &(*sketch)->Symbols()[i])) {
      sketch->reset();
      return false;
    }
  }
  return true;
}

void StoreFolderAskingFile(uint8_t* out, const AskingRepairFile& file) {
  StoreAskingRepairFile(out, file);
  StoreExchangeFileTag(out, ExchangeFileKind::FolderAskingFile);
  StoreHash128(out + kAskingCheckAt, Xxh3Hash128(out, kAskingCheckAt));
}

bool ReadFolderAskingFile(const uint8_t* bytes, uint64_t length, AskingRepairFile* file) {
  *file = AskingRepairFile{};
  if (length != kAskingRepairFileBytes || ReadExchangeFileKind(bytes, length) != ExchangeFileKind::FolderAskingFile ||
      LoadU32LE(bytes + 12) != kAskingRepairFileVersion ||
      LoadHash128(bytes + kAskingCheckAt) != Xxh3Hash128(bytes, kAskingCheckAt)) {
    return false;
  }
  const AskingRepairFile read{LoadU64LE(bytes + 16), LoadU64LE(bytes + 24), LoadHash128(bytes + 32), LoadU64LE(bytes + 48),
                              LoadU64LE(bytes + 56)};
  if (!CompactLengthBelow(read.answeredLength, read.brokenSize + 1) || read.askedLength <= read.answeredLength ||
      (read.askedLength != read.brokenSize && !CompactLengthBelow(read.askedLength, read.brokenSize))) {
    return false;
  }
  *file = read;
  return true;
}

uint64_t FolderAskedLength(uint64_t plainLength, uint64_t answeredLength, double estimate, uint64_t found) {
  if (answeredLength >= plainLength) return 0;
  const uint64_t answered =
      answeredLength > CompactFolderLength(0) ? (answeredLength - CompactFolderLength(0)) / kCompactSymbolBytes : 0;
  const double differences = std::max(estimate, static_cast<double>(found) + 1);
  const double fromEstimate = std::ceil(kAskAboveEstimate * static_cast<double>(SymbolsToDecode(differences)));
  const double symbols = std::max(fromEstimate, std::ceil(1.5 * static_cast<double>(answered)));
  if (symbols >= kMostSymbols) return plainLength;
  const uint64_t compact = CompactFolderLength(static_cast<uint32_t>(symbols));
  return compact < plainLength ? compact : plainLength;
}
