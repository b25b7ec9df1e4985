// The broken folder as a compact folder test file tells it, once the valid folder's elements
// have been taken out of its sketch and what is left decoded: for each valid entry, what the
// broken folder has under the same path ignoring letter case, as an index like a plain test
// file's (tree/test_index.h), and the entries only the broken folder has, known by key alone.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/sketch.h"
#include "tree/listing.h"
#include "tree/test_index.h"

struct SketchedFolder {
  // Each decoded key: the broken side's value less the valid side's (in the field).
  std::unordered_map<uint64_t, uint64_t> differences;
  TestIndex index;
  // Per index entry: the listing entry whose broken side it is (kTopFolder for the extras).
  std::vector<uint32_t> listed;
  // Index entries known only by their key, which the broken side has and the valid one not.
  std::vector<uint32_t> extras;

  uint64_t Delta(uint64_t key) const {
    const auto found = differences.find(key);
    return found == differences.end() ? 0 : found->second;
  }
};

// validValues: the entry value the valid side took out for each listing entry (0: none, an
// entry no exchange file carries); pathHashes: each entry's FoldedPathHash. False when the
// differences do not hold together (a value no entry has): a damaged or hostile test file.
bool BuildSketchedFolder(const TreeListing& listing, const std::vector<uint64_t>& validValues,
                         const std::vector<uint64_t>& pathHashes, bool windowsNames,
                         const std::vector<SketchDifference>& found, SketchedFolder* folder);
