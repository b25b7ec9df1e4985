// What both folder scans do with a compact folder test file's sketch: the elements of each
// entry and of each block of its files, added on the broken side and taken out on the valid
// side, and the file read that gathers a file's block checksums for them. A file's blocks go
// into the sketch only once the file has been read whole, so that one that fails half way is
// described as skipped and nothing else.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/compact_folder_file.h"
#include "core/fingerprint.h"
#include "core/sketch.h"
#include "platform/platform.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "tree/listing.h"

// Elements on their way into (or, subtract, out of) a sketch, a few thousand at a time, which
// the sketch walks side by side (Sketch::AddElements). Flush before the sketch is read.
class SketchBatch {
 public:
  SketchBatch(Sketch& sketch, bool subtract) : sketch_(sketch), subtract_(subtract) {}
  void Put(uint64_t key, uint64_t value);
  void Flush();

 private:
  static constexpr size_t kElements = 4096;
  Sketch& sketch_;
  bool subtract_;
  std::vector<uint64_t> keys_;
  std::vector<uint64_t> values_;
};

// An entry's own elements: its kind and size, its spelling, and a file's fingerprints
// (regions: its region fingerprints, regionCount of them, taken when two or more; null for a
// folder or a skipped entry).
void SketchEntry(SketchBatch& batch, uint64_t pathHash, std::string_view name, const EntryValue& value,
                 const Hash128* fingerprint, const Hash128* regions, uint64_t regionCount);
// A file's blocks, 1 to count.
void SketchBlocks(SketchBatch& batch, uint64_t pathHash, const uint32_t* checksums, uint64_t count);

// Reads a file whole beside the working thread, which takes its checksums and fingerprints;
// the checksums are gathered in order. Fill stops at readStep, Collect at listFull when they
// find no memory.
class GatheredChecksums final : public SliceJob {
 public:
  GatheredChecksums(const File& file, Fingerprinter& fingerprint, std::vector<uint32_t>* checksums, Step readStep,
                    Step listFull)
      : file_(file), fingerprint_(fingerprint), checksums_(checksums), readStep_(readStep), listFull_(listFull) {}
  Outcome Fill(Slice& slice) override;
  void Work(Slice& slice) override;
  Outcome Collect(Slice& slice) override;

 private:
  const File& file_;
  Fingerprinter& fingerprint_;
  std::vector<uint32_t>* checksums_;
  Step readStep_;
  Step listFull_;
};

// The length of the plain folder test file of the listed tree, as the broken side's scan would
// write it if every file read as listed.
uint64_t PlainFolderTestFileLength(const TreeListing& listing);
// The entry key of each entry an exchange file carries, by listing index (0 for the others).
std::vector<uint64_t> ListingEntryKeys(const TreeListing& listing);
// Whether two carried entries share an entry key: names that differ only in letter case in one
// folder of a file system that tells case, or keys that collide. The compact form cannot tell
// them apart, and the plain form is used.
bool KeysClash(std::vector<uint64_t> keys);
