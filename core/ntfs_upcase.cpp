// The upcase table of NTFS, kept as runs (core/ntfs_upcase_table.inc, made by
// scripts/make-upcase-table) and spread into the whole table once, at its first use.
#include "core/ntfs_upcase.h"

#include <array>

namespace {

struct Run {
  uint16_t first;
  uint16_t last;
  int32_t difference;
  uint8_t step;
};

constexpr Run kRuns[] = {
#include "core/ntfs_upcase_table.inc"
};

std::array<uint16_t, 65536> Spread() {
  std::array<uint16_t, 65536> table;
  for (uint32_t unit = 0; unit < table.size(); ++unit) table[unit] = static_cast<uint16_t>(unit);
  for (const Run& run : kRuns) {
    for (uint32_t unit = run.first; unit <= run.last; unit += run.step) {
      table[unit] = static_cast<uint16_t>(static_cast<int32_t>(unit) + run.difference);
    }
  }
  return table;
}

}  // namespace

uint16_t NtfsUpcase(uint16_t unit) {
  static const std::array<uint16_t, 65536> table = Spread();
  return table[unit];
}
