// What the valid-file scan and the check of a repair do with a compact test file: read its
// sketch whole, take the valid (or broken) file's blocks out of it as the pass reads them,
// decode what is left into the blocks that differ, record the broken file from the valid
// file's own blocks, and, where it does not decode, answer with the asking repair file.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/compact_test_file.h"
#include "core/sketch.h"
#include "platform/platform.h"
#include "stream/origin_record.h"
#include "stream/output_file.h"
#include "stream/steps.h"

// A compact test file read whole.
struct CompactTestFile {
  CompactTestFileHeader header;
  uint64_t length = 0;
  Hash128 check;  // its last 16 bytes, which an asking repair file names it by
  std::optional<Sketch> sketch;
};

// Reads the compact test file of length bytes whose first kCompactHeaderBytes (or fewer, when
// it is shorter) are start, through buffer (kStreamBufferBytes). Done; Refused at
// CheckCompactTestFile when it does not hold together (cut, changed, longer than the plain form
// of its size); a stop at ReadTest, or at allocate when its symbols find no memory.
Outcome ReadCompactTestFile(const File& testFile, uint64_t length, const uint8_t* start, uint8_t* buffer, Step allocate,
                            CompactTestFile* read);

// What is left of the sketch once the valid file's blocks 1 to the last both files have are
// taken out of it, decoded. Decoded: the blocks that differ, ascending, and each one's value on
// the broken side less the valid file's (in the field). NotDecoded: the estimate of how many
// differ, and how many were found, which size the request for more.
struct CompactDifferences {
  bool decoded = false;
  std::vector<SketchDifference> differences;
  double estimate = 0;
};

// Decodes; a stop at listFull (NotEnoughMemory) when the differences find no memory. A block
// number past the broken file's blocks, or one past the valid file's whose value cannot be a
// checksum, is no difference a real file leaves: refused at CheckCompactTestFile.
Outcome DecodeCompactDifferences(Sketch& sketch, uint64_t brokenBlocks, uint64_t validBlocks, Step listFull,
                                 CompactDifferences* found);

// Adds the blocks found differing (those the valid file has) to travelling, kept ascending.
Outcome AddDifferingBlocks(const CompactDifferences& found, uint64_t validBlocks, std::vector<uint32_t>* travelling,
                           Step listFull);

// The record of the broken file (recordedSize bytes, every block with a value) for the blocks
// that travel: its samples read from the valid file's own blocks (the blocks that do not differ
// have the same checksum on both sides), through buffer; the carried blocks' values left for
// CarriedValues. A stop at ReadValid or listFull.
Outcome RecordFromValidFile(const File& validFile, uint64_t recordedSize, uint64_t validSize,
                            const std::vector<uint32_t>& travelling, uint8_t* buffer, Step listFull, OriginRecord* record);

// The carried blocks' values on the broken side, from their checksums in the valid file (taken
// as the repair file's blocks were written) and the differences found: 0 past the broken
// file's blocks. False when a value is no checksum, which no true decode gives.
bool CarriedValues(const CompactDifferences& found, uint64_t brokenBlocks, const std::vector<uint32_t>& travelling,
                   const std::vector<uint32_t>& validChecksums, std::vector<uint32_t>* values);

// The asking repair file that answers a test file that did not decode, in place of the repair
// file (output already created): Done with the output committed; a stop at WriteOutput.
Outcome WriteAskingRepairFile(const CompactTestFile& test, const CompactDifferences& found, OutputFile* output);
