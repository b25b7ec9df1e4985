// The compact test file NAME.crc: the broken file's size and a sketch of its blocks
// (core/sketch.h), whose size the broken side chooses and which grows with the damage it can
// take, not with the file. Every number is little-endian:
//   0   4   0xFFFFFFFF, the large form's marker
//   4   8   the tag "VNSKETCH" (core/file_kinds.h)
//   12  4   version, 1
//   16  8   B, the broken file's size
//   24  4   m, the symbols, at least 1
//   28  4   estimator levels, 32
//   32  4   estimator cells per level, 16
//   36      32 * 16 u16 estimator cells, level by level
//   1060    m symbols of three u64 each (sum, weighted, checked), each below 2^61 - 1
//   end 16  check: XXH3-128 of every byte before it, stored as StoreHash128 stores it
// Its keys are the block numbers 1 to BlockCount64(B), its values their checksums. It is never
// longer than the plain test file of B (core/test_file.h): a writer that would make it so writes
// the plain form, and a reader refuses it, so that the file's length bounds what is allocated
// and looped over on reading it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/fingerprint.h"
#include "core/sketch.h"

inline constexpr uint32_t kCompactTestFileVersion = 1;
inline constexpr uint32_t kCompactHeaderBytes = 36;
inline constexpr uint32_t kCompactCellsAt = kCompactHeaderBytes;
inline constexpr uint32_t kCompactCellsBytes = 2 * kEstimatorCells;
inline constexpr uint32_t kCompactSymbolsAt = kCompactCellsAt + kCompactCellsBytes;
inline constexpr uint32_t kCompactSymbolBytes = 24;
inline constexpr uint32_t kCompactCheckBytes = kHash128Bytes;
// The default size's floor, and the smallest budget a compact test file is made for: 125
// symbols, below which the plain form or a larger budget is the better answer.
inline constexpr uint64_t kCompactDefaultFloor = 65536;
inline constexpr uint64_t kCompactSmallestBudget = 4096;

// 1076 + 24 m.
uint64_t CompactTestFileLength(uint32_t symbols);
// Where symbol i starts, and where the check starts.
uint64_t CompactSymbolAt(uint32_t index);
uint64_t CompactCheckAt(uint32_t symbols);

// The symbols of the largest compact test file of at most bytes bytes (capped at
// kMostSymbols); 0 when bytes is below kCompactSmallestBudget, a budget too small to be worth
// a compact test file.
uint32_t CompactSymbolsForBudget(uint64_t bytes);
// The default: the larger of 64 KiB and the plain form's length / 256.
uint32_t DefaultCompactSymbols(uint64_t brokenSize);
// Whether the plain test file of B is no longer than the compact one of these symbols, in which
// case the broken side writes the plain form.
bool PlainFormIsSmaller(uint64_t brokenSize, uint32_t symbols);

struct CompactTestFileHeader {
  uint64_t brokenSize = 0;  // B
  uint32_t symbols = 0;     // m
};

// Writes the header (kCompactHeaderBytes) into out; returns its length.
uint32_t StoreCompactTestFileHeader(uint8_t* out, uint64_t brokenSize, uint32_t symbols);
// The header from the file's first min(length, 36) bytes, checked against the file's length:
// false when the file is not a compact test file that holds together (tag, version, estimator
// shape, m from 1, B not above the largest exchanged size, length exactly the header's, not
// longer than the plain form of B).
bool ReadCompactTestFileHeader(const uint8_t* start, uint64_t length, CompactTestFileHeader* header);

// Fields behind the header: the cells (kCompactCellsBytes) and one symbol (kCompactSymbolBytes).
void StoreEstimatorCells(uint8_t* out, const EstimatorCells& cells);
void LoadEstimatorCells(const uint8_t* in, EstimatorCells* cells);
void StoreCodedSymbol(uint8_t* out, const CodedSymbol& symbol);
// False when a field is not below 2^61 - 1.
bool LoadCodedSymbol(const uint8_t* in, CodedSymbol* symbol);

// Emits a compact test file front to back, in pieces of any size: the header is known (and may
// be written) before the scan, the cells and symbols once the scan is done; the check is taken
// over every byte as it goes out.
class CompactTestFileWriter {
 public:
  // symbols: 1 to kMostSymbols.
  CompactTestFileWriter(uint64_t brokenSize, uint32_t symbols);

  uint64_t Length() const { return CompactTestFileLength(symbols_); }
  uint64_t Offset() const { return offset_; }
  bool Complete() const { return offset_ == Length(); }
  // Up to room bytes of the file from Offset() on into out; returns how many, 0 once complete.
  // sketch: the one the file carries (its symbol count is the writer's); not read while the
  // header goes out, so null is allowed until Offset() reaches kCompactHeaderBytes.
  size_t Emit(uint8_t* out, size_t room, const Sketch* sketch);

 private:
  uint64_t brokenSize_;
  uint32_t symbols_;
  uint64_t offset_ = 0;
  Hash128Stream check_;
};

// Reads a compact test file given in pieces of any size: the header first, then every byte
// after it in order. Allocates the m symbols once the header has been checked against the
// file's length, so never more than the file holds.
class CompactTestFileReader {
 public:
  // From the file's first min(length, 36) bytes and its length; false when the header does not
  // hold (ReadCompactTestFileHeader).
  bool Start(const uint8_t* start, uint64_t length);
  const CompactTestFileHeader& Header() const { return header_; }
  // The next bytes of the file, from offset 36 on, in order; false at a symbol field not below
  // 2^61 - 1 or at bytes beyond the file's length (nothing more is taken after a false).
  bool Take(const uint8_t* bytes, size_t count);
  // Once the whole file is in: whether every byte came and the check holds.
  bool Finish();
  // The cells and symbols read: complete only after Finish() returned true.
  Sketch& Read() { return *sketch_; }

 private:
  bool TakeUnit(uint64_t at, const uint8_t* unit);

  CompactTestFileHeader header_;
  uint64_t length_ = 0;
  uint64_t offset_ = 0;
  bool damaged_ = true;
  std::optional<Sketch> sketch_;
  Hash128Stream check_;
  // A unit (the cells, a symbol or the check) that came in more than one piece.
  uint8_t pending_[kCompactCellsBytes];
  uint32_t pendingBytes_ = 0;
};
