// The sketch a compact test file carries: coded symbols over the field of p = 2^61 - 1 that
// every element (key, value) is added to, a difference estimator beside them, and the decoder
// that peels the differences out of the symbols left when one side subtracts its own elements.
//
// An element is a key k, 1 <= k < p (a block number), and a value v < p (the block's checksum).
// Its terms are v * (1, k, h(k)); each of the key's symbols holds the sums of the terms of the
// keys mapped to it. Keyed by the key alone, a block whose checksum differs leaves one
// difference, (k, cA - cV); a value of 0 is the same as no element at all.
// Key k maps to symbol 0 and to each symbol i > 0 with probability 2 / (i + 2), so that any
// prefix of the symbols is a sketch of its own: the sender chooses how many to send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

inline constexpr uint64_t kFieldPrime = (uint64_t{1} << 61) - 1;

inline uint64_t FieldAdd(uint64_t a, uint64_t b) {
  const uint64_t sum = a + b;
  return sum >= kFieldPrime ? sum - kFieldPrime : sum;
}

inline uint64_t FieldSub(uint64_t a, uint64_t b) { return a >= b ? a - b : a + kFieldPrime - b; }

inline uint64_t FieldNeg(uint64_t a) { return a == 0 ? 0 : kFieldPrime - a; }

// The product's 122 bits folded twice: 2^61 = 1 (mod p).
inline uint64_t FieldMul(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  const uint64_t folded = (static_cast<uint64_t>(product) & kFieldPrime) + static_cast<uint64_t>(product >> 61);
  return folded >= kFieldPrime ? folded - kFieldPrime : folded;
}

// a^(p - 2), for a != 0.
uint64_t FieldInverse(uint64_t a);

// h(k): a fixed hash of the key, 1 to p - 1.
uint64_t KeyHash(uint64_t key);

struct CodedSymbol {
  uint64_t sum = 0;       // SUM v
  uint64_t weighted = 0;  // SUM k * v
  uint64_t checked = 0;   // SUM h(k) * v
  bool IsZero() const { return (sum | weighted | checked) == 0; }
  bool operator==(const CodedSymbol& other) const = default;
};

// Symbol indices must fit 31 bits, so that (j + 1)(j + 2) fits 64 and the index rule's products
// fit 128. The compact test file's reader and the Sketch enforce it (a file that long would be
// above 48 GiB, far beyond the plain form of any file exchanged).
inline constexpr uint32_t kMostSymbols = 0x7FFFFFFF;

// The index after index, for a key whose generator drew u: the smallest j > index with
//   (index + 1)(index + 2) * 2^64 <= (j + 1)(j + 2) * (2^64 - u),
// or symbols when no j below symbols is. That is P(next > j) = (i+1)(i+2) / ((j+1)(j+2)),
// the chance that none of symbols i+1..j takes the key. Decided in exact integers, so that
// both sides map every key alike on every system. index < symbols <= kMostSymbols.
uint32_t NextSymbolIndex(uint32_t index, uint64_t u, uint32_t symbols);

// The symbols a key maps to below symbols, in ascending order, from symbol 0.
class SymbolIndices {
 public:
  SymbolIndices(uint64_t key, uint32_t symbols);
  bool Done() const { return index_ >= symbols_; }
  uint32_t Index() const { return index_; }
  void Next();

 private:
  uint64_t state_;
  uint32_t index_ = 0;
  uint32_t symbols_;
};

// The difference estimator: 32 levels of 16 cells of 16 bits. A key goes to level l with
// probability 2^-(l+1) (the last level takes the rest) and to one cell of it, which is XORed
// with a 16-bit hash of (key, value). Once one side's cells are XORed into the other's, a cell
// is non-zero (but for a chance of 2^-16) exactly when a differing key lies in it.
inline constexpr uint32_t kEstimatorLevels = 32;
inline constexpr uint32_t kEstimatorCellsPerLevel = 16;
inline constexpr uint32_t kEstimatorCells = kEstimatorLevels * kEstimatorCellsPerLevel;

struct EstimatorCells {
  uint16_t cells[kEstimatorCells] = {};  // level l's cells at 16 * l
  bool operator==(const EstimatorCells& other) const = default;
};

// The element's mark: the same call adds and removes it.
void ToggleEstimator(EstimatorCells& cells, uint64_t key, uint64_t value);

// The number of differences most likely to leave these cells (both sides' cells XORed
// together), by maximum likelihood over every level; 0 when every cell is zero. For any count
// from 1 to 10^7, within 0.75 to 1.4 times it in nine cases of ten (95 of 100 when measured)
// and within 0.7 to 1.5 in 98 of 100 (tests/core/sketch_test.cpp keeps to the first).
double EstimateDifferences(const EstimatorCells& cells);
// The same, with the evidence of the difference symbols as they are before decoding: symbol
// i > 0 is zero with chance (i / (i + 2))^d, which pins d down closely when it is not far beyond
// the symbols (a prefix that just failed to decode) and says nothing when it is.
double EstimateDifferences(const EstimatorCells& cells, const std::vector<CodedSymbol>& symbols);

// One side's sketch: m symbols and the estimator, to which that side's elements are added (the
// broken side) or from which they are subtracted (the valid side, from the broken side's).
class Sketch {
 public:
  // symbols: 1 to kMostSymbols (a count outside is taken to the nearest of them).
  explicit Sketch(uint32_t symbols);

  uint32_t SymbolCount() const { return static_cast<uint32_t>(symbols_.size()); }
  std::vector<CodedSymbol>& Symbols() { return symbols_; }
  const std::vector<CodedSymbol>& Symbols() const { return symbols_; }
  EstimatorCells& Cells() { return cells_; }
  const EstimatorCells& Cells() const { return cells_; }

  // 1 <= key < p, value < p.
  void Add(uint64_t key, uint64_t value);
  void Subtract(uint64_t key, uint64_t value);
  // The blocks firstBlock, firstBlock + 1, ... with these checksums: a scan's slice at a time.
  // Several keys are walked side by side, which is what keeps the cost per block low.
  void AddBlocks(uint64_t firstBlock, const uint32_t* checksums, size_t count);
  void SubtractBlocks(uint64_t firstBlock, const uint32_t* checksums, size_t count);
  // Elements of any keys (keys[i] with values[i], as Add takes them), walked side by side as
  // the blocks are: a folder's entries and blocks.
  void AddElements(const uint64_t* keys, const uint64_t* values, size_t count);
  void SubtractElements(const uint64_t* keys, const uint64_t* values, size_t count);

 private:
  // next(&key, &value) gives the elements one after another, false after the last.
  template <bool kSubtract, typename Next>
  void Spread(Next&& next);

  std::vector<CodedSymbol> symbols_;
  EstimatorCells cells_;
};

// What the decoder found: delta = vA - vB for the key, with A the side that added its elements
// and B the side that subtracted its own (a key only A has: its value; only B has: -value).
struct SketchDifference {
  uint64_t key = 0;
  uint64_t delta = 0;
};

enum class DecodeVerdict { Decoded, NotDecoded };

// Peels the differences out of the difference symbols (changed in place): a symbol is pure,
// holding the one difference (k, sum), when sum != 0, k = weighted / sum passes keyMayOccur,
// checked == h(k) * sum and the symbol is one k maps to; k is then taken out of each of its
// symbols, which may leave others pure. Decoded when every symbol ends zero; NotDecoded when
// they do not, when a key would be found twice (a purity check fooled, or a hostile sketch),
// or when more than symbols.size() differences would be found. found: the differences found,
// in any case, at most symbols.size() of them.
//
// A wrong pair cannot pass unnoticed: a symbol that only looks pure leaves others non-zero or
// a key found twice, and any pair that does get out the caller still takes against its own
// block (the value it implies for the other side must be a checksum), while the repair's
// fingerprint proves the repaired file whole.
DecodeVerdict DecodeDifferences(std::vector<CodedSymbol>& symbols, const std::function<bool(uint64_t key)>& keyMayOccur,
                                std::vector<SketchDifference>* found);
