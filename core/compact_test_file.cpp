// Writing and reading the compact test file, a unit at a time: the header, the cells, each
// symbol, the check.
#include "core/compact_test_file.h"

#include <algorithm>
#include <cstring>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/file_kinds.h"
#include "core/test_file.h"

namespace {

// The unit of the file that holds offset (at or past the header): where it starts and its size.
struct Unit {
  uint64_t at;
  uint32_t bytes;
};

Unit UnitAt(uint64_t offset, uint32_t symbols) {
  if (offset < kCompactSymbolsAt) return {kCompactCellsAt, kCompactCellsBytes};
  const uint64_t checkAt = CompactCheckAt(symbols);
  if (offset >= checkAt) return {checkAt, kCompactCheckBytes};
  return {offset - (offset - kCompactSymbolsAt) % kCompactSymbolBytes, kCompactSymbolBytes};
}

}  // namespace

uint64_t CompactTestFileLength(uint32_t symbols) { return CompactCheckAt(symbols) + kCompactCheckBytes; }

uint64_t CompactSymbolAt(uint32_t index) { return kCompactSymbolsAt + uint64_t{kCompactSymbolBytes} * index; }

uint64_t CompactCheckAt(uint32_t symbols) { return CompactSymbolAt(symbols); }

uint32_t CompactSymbolsForBudget(uint64_t bytes) {
  if (bytes < kCompactSmallestBudget) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>((bytes - CompactTestFileLength(0)) / kCompactSymbolBytes, kMostSymbols));
}

uint32_t DefaultCompactSymbols(uint64_t brokenSize) {
  return CompactSymbolsForBudget(std::max(kCompactDefaultFloor, TestFileLength(brokenSize) / 256));
}

bool PlainFormIsSmaller(uint64_t brokenSize, uint32_t symbols) {
  return TestFileLength(brokenSize) <= CompactTestFileLength(symbols);
}

uint32_t StoreCompactTestFileHeader(uint8_t* out, uint64_t brokenSize, uint32_t symbols) {
  StoreExchangeFileTag(out, ExchangeFileKind::CompactTestFile);
  StoreU32LE(out + 12, kCompactTestFileVersion);
  StoreU64LE(out + 16, brokenSize);
  StoreU32LE(out + 24, symbols);
  StoreU32LE(out + 28, kEstimatorLevels);
  StoreU32LE(out + 32, kEstimatorCellsPerLevel);
  return kCompactHeaderBytes;
}

bool ReadCompactTestFileHeader(const uint8_t* start, uint64_t length, CompactTestFileHeader* header) {
  *header = CompactTestFileHeader{};
  if (length < kCompactHeaderBytes || ReadExchangeFileKind(start, length) != ExchangeFileKind::CompactTestFile ||
      LoadU32LE(start + 12) != kCompactTestFileVersion || LoadU32LE(start + 28) != kEstimatorLevels ||
      LoadU32LE(start + 32) != kEstimatorCellsPerLevel) {
    return false;
  }
  const uint64_t brokenSize = LoadU64LE(start + 16);
  const uint32_t symbols = LoadU32LE(start + 24);
  if (symbols == 0 || symbols > kMostSymbols || brokenSize > kLargestExchangedSize ||
      length != CompactTestFileLength(symbols) || length > TestFileLength(brokenSize)) {
    return false;
  }
  *header = {brokenSize, symbols};
  return true;
}

void StoreEstimatorCells(uint8_t* out, const EstimatorCells& cells) {
  for (uint32_t c = 0; c < kEstimatorCells; ++c) StoreU16LE(out + 2 * c, cells.cells[c]);
}

void LoadEstimatorCells(const uint8_t* in, EstimatorCells* cells) {
  for (uint32_t c = 0; c < kEstimatorCells; ++c) cells->cells[c] = LoadU16LE(in + 2 * c);
}

void StoreCodedSymbol(uint8_t* out, const CodedSymbol& symbol) {
  StoreU64LE(out, symbol.sum);
  StoreU64LE(out + 8, symbol.weighted);
  StoreU64LE(out + 16, symbol.checked);
}

bool LoadCodedSymbol(const uint8_t* in, CodedSymbol* symbol) {
  *symbol = {LoadU64LE(in), LoadU64LE(in + 8), LoadU64LE(in + 16)};
  return symbol->sum < kFieldPrime && symbol->weighted < kFieldPrime && symbol->checked < kFieldPrime;
}

CompactTestFileWriter::CompactTestFileWriter(uint64_t brokenSize, uint32_t symbols)
    : brokenSize_(brokenSize), symbols_(std::clamp<uint32_t>(symbols, 1, kMostSymbols)) {}

size_t CompactTestFileWriter::Emit(uint8_t* out, size_t room, const Sketch* sketch) {
  size_t written = 0;
  uint8_t unit[kCompactCellsBytes];
  while (written < room && !Complete()) {
    // The unit under way, made whole, of which the part from offset_ goes out.
    Unit at{0, kCompactHeaderBytes};
    if (offset_ < kCompactHeaderBytes) {
      StoreCompactTestFileHeader(unit, brokenSize_, symbols_);
    } else {
      at = UnitAt(offset_, symbols_);
      if (at.at == kCompactCellsAt) {
        StoreEstimatorCells(unit, sketch->Cells());
      } else if (at.at == CompactCheckAt(symbols_)) {
        StoreHash128(unit, check_.Digest());
      } else {
        StoreCodedSymbol(unit, sketch->Symbols()[(at.at - kCompactSymbolsAt) / kCompactSymbolBytes]);
      }
    }
    const uint32_t from = static_cast<uint32_t>(offset_ - at.at);
    const size_t count = std::min<size_t>(at.bytes - from, room - written);
    std::memcpy(out + written, unit + from, count);
    if (at.at != CompactCheckAt(symbols_)) check_.Add(unit + from, count);
    written += count;
    offset_ += count;
  }
  return written;
}

bool CompactTestFileReader::Start(const uint8_t* start, uint64_t length) {
  damaged_ = !ReadCompactTestFileHeader(start, length, &header_);
  if (damaged_) return false;
  length_ = length;
  offset_ = kCompactHeaderBytes;
  pendingBytes_ = 0;
  sketch_.emplace(header_.symbols);
  check_ = Hash128Stream();
  check_.Add(start, kCompactHeaderBytes);
  return true;
}

bool CompactTestFileReader::Take(const uint8_t* bytes, size_t count) {
  if (damaged_ || count > length_ - offset_) return !(damaged_ = true);
  while (count > 0) {
    const Unit unit = UnitAt(offset_, header_.symbols);
    const uint32_t missing = unit.bytes - pendingBytes_;
    if (pendingBytes_ == 0 && count >= unit.bytes) {  // whole in this piece
      if (!TakeUnit(unit.at, bytes)) return false;
      bytes += unit.bytes, count -= unit.bytes, offset_ += unit.bytes;
      continue;
    }
    const uint32_t part = static_cast<uint32_t>(std::min<size_t>(missing, count));
    std::memcpy(pending_ + pendingBytes_, bytes, part);
    pendingBytes_ += part;
    bytes += part, count -= part, offset_ += part;
    if (pendingBytes_ == unit.bytes) {
      pendingBytes_ = 0;
      if (!TakeUnit(unit.at, pending_)) return false;
    }
  }
  return true;
}

// A whole unit, the one that starts at offset at.
bool CompactTestFileReader::TakeUnit(uint64_t at, const uint8_t* unit) {
  if (at == CompactCheckAt(header_.symbols)) {
    damaged_ = LoadHash128(unit) != check_.Digest();
    return !damaged_;
  }
  if (at == kCompactCellsAt) {
    check_.Add(unit, kCompactCellsBytes);
    LoadEstimatorCells(unit, &sketch_->Cells());
    return true;
  }
  check_.Add(unit, kCompactSymbolBytes);
  damaged_ = !LoadCodedSymbol(unit, &sketch_->Symbols()[(at - kCompactSymbolsAt) / kCompactSymbolBytes]);
  return !damaged_;
}

bool CompactTestFileReader::Finish() { return !damaged_ && offset_ == length_ && pendingBytes_ == 0; }
