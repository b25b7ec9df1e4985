// The sketch's field, hashes, index rule, estimator and decoder. Every decision both sides must
// make alike (hashes, the indices) is integer arithmetic; only the estimate, which the valid
// side alone makes, is floating point.
#include "core/sketch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <unordered_set>

#include <emmintrin.h>

namespace {

// The finaliser of SplitMix64: a bijection of 64 bits that spreads every input bit.
inline uint64_t Mix64(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// Distinct seeds for the key's four uses, so that none of them follows from another.
constexpr uint64_t kKeyHashSeed = 0x6A09E667F3BCC908u;
constexpr uint64_t kIndexSeed = 0xBB67AE8584CAA73Bu;
constexpr uint64_t kLevelSeed = 0x3C6EF372FE94F82Bu;
constexpr uint64_t kTagMultiplier = 0xA54FF53A5F1D36F1u;
constexpr uint64_t kWeylIncrement = 0xA0761D6478BD642Fu;
constexpr uint64_t kDrawMultiplier = 0xE7037ED1A0B428DBu;

// The index generator, started from a hash of the key: a Weyl sequence whose every value is
// mixed by one 64 x 64 -> 128-bit product folded on itself (the step of wyrand), one product a
// draw where a SplitMix64 draw takes two.
inline uint64_t IndexSeed(uint64_t key) { return Mix64(key ^ kIndexSeed); }
inline uint64_t Draw(uint64_t& state) {
  state += kWeylIncrement;
  const unsigned __int128 product = static_cast<unsigned __int128>(state) * (state ^ kDrawMultiplier);
  return static_cast<uint64_t>(product >> 64) ^ static_cast<uint64_t>(product);
}

// Whether j is far enough: (j+1)(j+2) * (2^64 - u) >= s * 2^64, with s = (i+1)(i+2) < (j+1)(j+2),
// rewritten as (j+1)(j+2) * u <= ((j+1)(j+2) - s) * 2^64 so that every term fits 128 bits.
inline bool Reaches(uint64_t s, uint64_t j, uint64_t u) {
  const uint64_t pj = (j + 1) * (j + 2);
  return static_cast<unsigned __int128>(pj) * u <= static_cast<unsigned __int128>(pj - s) << 64;
}

// Settles the estimate j of the index after index (whose (i+1)(i+2) is s) with the exact rule.
// Both checks are made without a branch: the estimate is right but for a rounding case, and a
// branch on which of them holds would be mispredicted at every small index.
inline uint32_t SettleIndex(uint32_t index, uint64_t s, uint64_t u, double estimate, uint32_t symbols) {
  uint32_t j = static_cast<uint32_t>(static_cast<int64_t>(std::min(estimate, static_cast<double>(symbols)))) + 1;
  j = std::min(std::max(j, index + 1), symbols);
  const bool farEnough = (j >= symbols) | Reaches(s, j, u);
  const bool tooFar = (j - 1 > index) & Reaches(s, j - 1, u);
  if (!farEnough | tooFar) [[unlikely]] {
    while (j < symbols && !Reaches(s, j, u)) ++j;
    while (j > index + 1 && Reaches(s, j - 1, u)) --j;
  }
  return j;
}

// V = (2^64 - u) / 2^64, which (~u >> 11) + 1 gives to 53 bits, never 0.
inline double Complement(uint64_t u) { return static_cast<double>(static_cast<int64_t>(~u >> 11) + 1) * 0x1p-53; }

inline uint64_t IndexProduct(uint32_t index) { return (uint64_t{index} + 1) * (uint64_t{index} + 2); }

// The estimate: (j + 1.5)^2 - 0.25 = (j+1)(j+2) >= s / V.
inline uint32_t NextIndex(uint32_t index, uint64_t u, uint32_t symbols) {
  const uint64_t s = IndexProduct(index);
  const double estimate = std::sqrt(static_cast<double>(static_cast<int64_t>(s)) / Complement(u) + 0.25) - 1.5;
  return SettleIndex(index, s, u, estimate, symbols);
}

// A key's estimator hash: its low bits give the level, its top four the cell.
inline uint64_t LevelHash(uint64_t key) { return Mix64(key ^ kLevelSeed); }

inline void Toggle(EstimatorCells& cells, uint64_t key, uint64_t value) {
  const uint64_t g = LevelHash(key);
  const uint32_t level = std::min<uint32_t>(std::countr_zero(g), kEstimatorLevels - 1);
  const uint32_t cell = static_cast<uint32_t>(g >> 60);
  cells.cells[kEstimatorCellsPerLevel * level + cell] ^= static_cast<uint16_t>(Mix64(g + value * kTagMultiplier) >> 48);
}

struct Terms {
  uint64_t sum, weighted, checked;
};

inline Terms TermsOf(uint64_t key, uint64_t value, bool subtract) {
  const uint64_t v = subtract ? FieldNeg(value) : value;
  return {v, FieldMul(v, key), FieldMul(v, KeyHash(key))};
}

inline void AddTerms(CodedSymbol& symbol, const Terms& terms) {
  symbol.sum = FieldAdd(symbol.sum, terms.sum);
  symbol.weighted = FieldAdd(symbol.weighted, terms.weighted);
  symbol.checked = FieldAdd(symbol.checked, terms.checked);
}

// a^(2^times).
inline uint64_t Square(uint64_t a, int times) {
  for (int t = 0; t < times; ++t) a = FieldMul(a, a);
  return a;
}

}  // namespace

uint64_t FieldInverse(uint64_t a) {
  // p - 2 = 2^61 - 3 = (2^59 - 1) * 4 + 1; each e_n is a^(2^n - 1), by an addition chain of 65
  // squarings and 10 products where plain square-and-multiply takes 120.
  const uint64_t e1 = a;
  const uint64_t e2 = FieldMul(Square(e1, 1), e1);
  const uint64_t e3 = FieldMul(Square(e2, 1), e1);
  const uint64_t e6 = FieldMul(Square(e3, 3), e3);
  const uint64_t e8 = FieldMul(Square(e6, 2), e2);
  const uint64_t e11 = FieldMul(Square(e8, 3), e3);
  const uint64_t e12 = FieldMul(Square(e6, 6), e6);
  const uint64_t e24 = FieldMul(Square(e12, 12), e12);
  const uint64_t e48 = FieldMul(Square(e24, 24), e24);
  const uint64_t e59 = FieldMul(Square(e48, 11), e11);
  return FieldMul(Square(e59, 2), a);
}

uint64_t KeyHash(uint64_t key) {
  const uint64_t h = Mix64(key ^ kKeyHashSeed) >> 3;
  return h == 0 || h == kFieldPrime ? 1 : h;
}

uint32_t NextSymbolIndex(uint32_t index, uint64_t u, uint32_t symbols) { return NextIndex(index, u, symbols); }

SymbolIndices::SymbolIndices(uint64_t key, uint32_t symbols) : state_(IndexSeed(key)), symbols_(symbols) {}

void SymbolIndices::Next() { index_ = NextIndex(index_, Draw(state_), symbols_); }

void ToggleEstimator(EstimatorCells& cells, uint64_t key, uint64_t value) { Toggle(cells, key, value); }

namespace {

// The log-likelihood of d differences, from the estimator's cells and, where given, from which
// difference symbols are zero.
class Likelihood {
 public:
  explicit Likelihood(const EstimatorCells& cells) {
    for (uint32_t l = 0; l < kEstimatorLevels; ++l) {
      zeroCells_[l] = 0;
      for (uint32_t c = 0; c < kEstimatorCellsPerLevel; ++c) zeroCells_[l] += cells.cells[kEstimatorCellsPerLevel * l + c] == 0;
      // ln of the chance that a cell stays clear of one difference.
      const double toLevel = std::ldexp(1.0, -static_cast<int>(std::min(l + 1, kEstimatorLevels - 1)));
      logClear_[l] = std::log1p(-toLevel / kEstimatorCellsPerLevel);
    }
  }

  // Symbol i > 0 is clear of one difference with chance i / (i + 2); symbol 0 never is. Past
  // index 64 the symbols go in groups whose chances differ by under 2 %, each taken at its
  // members' mean, so that a likelihood costs the same for any m.
  void AddSymbols(const std::vector<CodedSymbol>& symbols) {
    for (size_t i = 1; i < symbols.size(); ++i) {
      const double logClear = std::log(static_cast<double>(i) / static_cast<double>(i + 2));
      if (symbols[i].IsZero()) {
        zeroSymbolsLog_ += logClear;
        continue;
      }
      if (groups_.empty() || (i >= 64 && static_cast<double>(i) > groups_.back().first * 1.015625) || i < 64) {
        groups_.push_back({static_cast<double>(i), 0, 0});
      }
      groups_.back().logClearSum += logClear;
      groups_.back().count += 1;
    }
  }

  double operator()(double d) const {
    // A cell of one or more differences is still zero with chance 2^-16, which keeps a full
    // level from ruling out any d.
    const double falseZero = std::ldexp(1.0, -16);
    double sum = d * zeroSymbolsLog_;
    for (uint32_t l = 0; l < kEstimatorLevels; ++l) {
      const double zero = falseZero + (1 - falseZero) * std::exp(d * logClear_[l]);
      sum += zeroCells_[l] * std::log(zero) + (static_cast<int>(kEstimatorCellsPerLevel) - zeroCells_[l]) * std::log1p(-zero);
    }
    for (const Group& group : groups_) {
      const double clear = std::exp(d * group.logClearSum / group.count);
      // A chance rounded to 1 takes the least logarithm a double has.
      sum += group.count * (clear < 1 ? std::log1p(-clear) : -745.0);
    }
    return sum;
  }

  bool AnyEvidence() const {
    for (uint32_t l = 0; l < kEstimatorLevels; ++l) {
      if (zeroCells_[l] < static_cast<int>(kEstimatorCellsPerLevel)) return true;
    }
    return !groups_.empty();
  }

 private:
  struct Group {
    double first;  // its first index
    double logClearSum;
    double count;
  };
  int zeroCells_[kEstimatorLevels];
  double logClear_[kEstimatorLevels];
  double zeroSymbolsLog_ = 0;
  std::vector<Group> groups_;
};

// The d from 1 to 2^40 of the greatest likelihood: a grid over ln d, then a golden-section
// search around its best point.
double MostLikely(const Likelihood& likelihood) {
  if (!likelihood.AnyEvidence()) return 0;
  constexpr int kGrid = 400;
  const double top = 40 * std::log(2.0);
  int best = 0;
  double bestValue = likelihood(1);
  for (int g = 1; g <= kGrid; ++g) {
    const double value = likelihood(std::exp(top * g / kGrid));
    if (value > bestValue) best = g, bestValue = value;
  }
  double low = top * std::max(best - 1, 0) / kGrid, high = top * std::min(best + 1, kGrid) / kGrid;
  const double ratio = (std::sqrt(5.0) - 1) / 2;
  for (int step = 0; step < 40; ++step) {
    const double a = high - ratio * (high - low), b = low + ratio * (high - low);
    if (likelihood(std::exp(a)) < likelihood(std::exp(b))) {
      low = a;
    } else {
      high = b;
    }
  }
  return std::exp((low + high) / 2);
}

}  // namespace

double EstimateDifferences(const EstimatorCells& cells) { return MostLikely(Likelihood(cells)); }

double EstimateDifferences(const EstimatorCells& cells, const std::vector<CodedSymbol>& symbols) {
  Likelihood likelihood(cells);
  likelihood.AddSymbols(symbols);
  return MostLikely(likelihood);
}

Sketch::Sketch(uint32_t symbols) : symbols_(std::clamp<uint32_t>(symbols, 1, kMostSymbols)) {}

void Sketch::Add(uint64_t key, uint64_t value) {
  if (value == 0) return;
  Toggle(cells_, key, value);
  const Terms terms = TermsOf(key, value, false);
  for (SymbolIndices at(key, SymbolCount()); !at.Done(); at.Next()) AddTerms(symbols_[at.Index()], terms);
}

void Sketch::Subtract(uint64_t key, uint64_t value) {
  if (value == 0) return;
  Toggle(cells_, key, value);
  const Terms terms = TermsOf(key, value, true);
  for (SymbolIndices at(key, SymbolCount()); !at.Done(); at.Next()) AddTerms(symbols_[at.Index()], terms);
}

namespace {

// The blocks firstBlock, firstBlock + 1, ... as elements.
struct BlockElements {
  uint64_t firstBlock;
  const uint32_t* checksums;
  size_t count;
  size_t taken = 0;
  bool operator()(uint64_t* key, uint64_t* value) {
    if (taken == count) return false;
    *key = firstBlock + taken;
    *value = checksums[taken++];
    return true;
  }
};

struct GivenElements {
  const uint64_t* keys;
  const uint64_t* values;
  size_t count;
  size_t taken = 0;
  bool operator()(uint64_t* key, uint64_t* value) {
    if (taken == count) return false;
    *key = keys[taken];
    *value = values[taken++];
    return true;
  }
};

}  // namespace

void Sketch::AddBlocks(uint64_t firstBlock, const uint32_t* checksums, size_t count) {
  Spread<false>(BlockElements{firstBlock, checksums, count});
}

void Sketch::SubtractBlocks(uint64_t firstBlock, const uint32_t* checksums, size_t count) {
  Spread<true>(BlockElements{firstBlock, checksums, count});
}

void Sketch::AddElements(const uint64_t* keys, const uint64_t* values, size_t count) {
  Spread<false>(GivenElements{keys, values, count});
}

void Sketch::SubtractElements(const uint64_t* keys, const uint64_t* values, size_t count) {
  Spread<true>(GivenElements{keys, values, count});
}

// Each key's walk is a chain of dependent steps (draw, estimate, exact check), each step waiting
// for a division and a square root. Sixteen keys walked side by side give the processor chains
// to overlap, and their estimates are taken two at a time in SSE2's packed double arithmetic
// (which every x86-64 processor has); a lane whose key has left the symbols takes the next
// element. The indices are NextIndex's: the estimate may differ in its last bit, the settled
// index cannot.
template <bool kSubtract, typename Next>
void Sketch::Spread(Next&& next) {
  constexpr int kLanes = 16;
  alignas(16) double products[kLanes], complements[kLanes], estimates[kLanes];
  uint64_t draws[kLanes], states[kLanes];
  uint32_t indices[kLanes];
  bool live[kLanes];
  Terms terms[kLanes];
  const uint32_t m = SymbolCount();
  CodedSymbol* const symbols = symbols_.data();
  // Starts lane l on the next element that has a value; false when none is left.
  auto start = [&](int l) {
    uint64_t key, value;
    while (next(&key, &value)) {
      if (value == 0) continue;
      Toggle(cells_, key, value);
      terms[l] = TermsOf(key, value, kSubtract);
      states[l] = IndexSeed(key);
      indices[l] = 0;
      return true;
    }
    states[l] = 0;
    indices[l] = 0;
    return false;
  };
  int walking = 0;
  for (int l = 0; l < kLanes; ++l) walking += live[l] = start(l);
  const __m128d quarter = _mm_set1_pd(0.25), threeHalves = _mm_set1_pd(1.5);
  const __m128d cap = _mm_set1_pd(static_cast<double>(m));
  while (walking > 0) {
    for (int l = 0; l < kLanes; ++l) {
      draws[l] = Draw(states[l]);
      products[l] = static_cast<double>(static_cast<int64_t>(IndexProduct(indices[l])));
      complements[l] = Complement(draws[l]);
    }
    for (int l = 0; l < kLanes; l += 2) {
      const __m128d t = _mm_add_pd(_mm_div_pd(_mm_load_pd(products + l), _mm_load_pd(complements + l)), quarter);
      _mm_store_pd(estimates + l, _mm_min_pd(_mm_sub_pd(_mm_sqrt_pd(t), threeHalves), cap));
    }
    for (int l = 0; l < kLanes; ++l) {
      if (!live[l]) continue;
      const uint32_t i = indices[l];
      AddTerms(symbols[i], terms[l]);
      indices[l] = SettleIndex(i, IndexProduct(i), draws[l], estimates[l], m);
      if (indices[l] < m) {
        __builtin_prefetch(symbols + indices[l], 1);  // the next pass adds there
      } else if (!start(l)) {
        live[l] = false;
        --walking;
      }
    }
  }
}

// In rounds: the sums of a round's candidates are inverted together (one inversion and three
// products each), then each candidate not changed since is tried and, when pure, peeled. The
// symbols a peel changes are the next round's candidates.
DecodeVerdict DecodeDifferences(std::vector<CodedSymbol>& symbols, const std::function<bool(uint64_t key)>& keyMayOccur,
                                std::vector<SketchDifference>* found) {
  found->clear();
  const uint32_t m = static_cast<uint32_t>(std::min<size_t>(symbols.size(), kMostSymbols));
  std::vector<uint32_t> current, next;
  std::vector<uint8_t> queued(m, 0);  // changed in this round, and so in next
  std::vector<uint64_t> inverses;
  std::unordered_set<uint64_t> keys;
  std::vector<uint32_t> mapped;  // the indices of the key under way
  for (uint32_t i = 0; i < m; ++i) {
    if (symbols[i].sum != 0) current.push_back(i);
  }
  while (!current.empty()) {
    // Montgomery's batch inversion over the candidates whose sum is not zero.
    std::erase_if(current, [&](uint32_t i) { return symbols[i].sum == 0; });
    inverses.resize(current.size());
    uint64_t product = 1;
    for (size_t c = 0; c < current.size(); ++c) {
      inverses[c] = product;
      product = FieldMul(product, symbols[current[c]].sum);
    }
    uint64_t inverse = current.empty() ? 1 : FieldInverse(product);
    for (size_t c = current.size(); c-- > 0;) {
      const uint64_t sum = symbols[current[c]].sum;
      inverses[c] = FieldMul(inverses[c], inverse);
      inverse = FieldMul(inverse, sum);
    }
    for (size_t c = 0; c < current.size(); ++c) {
      const uint32_t i = current[c];
      if (queued[i]) continue;  // changed by a peel of this round: tried again in the next
      const CodedSymbol symbol = symbols[i];
      const uint64_t key = FieldMul(symbol.weighted, inverses[c]);
      if (key == 0 || FieldMul(KeyHash(key), symbol.sum) != symbol.checked || !keyMayOccur(key)) continue;
      mapped.clear();
      for (SymbolIndices at(key, m); !at.Done(); at.Next()) mapped.push_back(at.Index());
      if (!std::binary_search(mapped.begin(), mapped.end(), i)) continue;  // a symbol its key does not map to
      if (found->size() >= m || !keys.insert(key).second) return DecodeVerdict::NotDecoded;
      found->push_back({key, symbol.sum});
      const Terms terms = TermsOf(key, symbol.sum, true);
      for (const uint32_t j : mapped) {
        AddTerms(symbols[j], terms);
        if (j != i && !queued[j]) {
          queued[j] = 1;
          next.push_back(j);
        }
      }
    }
    current.swap(next);
    next.clear();
    for (uint32_t i : current) queued[i] = 0;
  }
  for (uint32_t i = 0; i < m; ++i) {
    if (!symbols[i].IsZero()) return DecodeVerdict::NotDecoded;
  }
  return symbols.size() <= m ? DecodeVerdict::Decoded : DecodeVerdict::NotDecoded;
}
