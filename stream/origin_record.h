// What a valid-file scan records in its repair file of the broken file it is made for
// (core/repair_origin.h), for a single file and for each file of a folder: once the blocks
// that travel are known, the test file's value of each of them and of up to 64 others, read
// from the test file's entries (or, answering a follow-up, from the block hashes it lists);
// and the fingerprint part that carries it, written behind the blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "core/repair_origin.h"
#include "core/test_file.h"
#include "platform/platform.h"
#include "stream/steps.h"
#include "stream/travelling_blocks.h"

// The values of the carried blocks in the repair file's order, and the samples as stored.
struct OriginRecord {
  RepairOrigin origin;
  std::vector<uint32_t> values;
  uint8_t samples[kMostSampledBlocks * kOriginSampleBytes] = {};
};

// From a test file's entries of a broken file of recordedSize bytes, with entries whole
// entries, for a valid file of validSize bytes: the record of travelling (ascending), read
// through buffer (kStreamBufferBytes). Done, a stop at ReadTest, or at listFull when the values
// find no memory.
Outcome RecordFromTestFile(const TestEntries& entries, uint64_t recordedSize, uint64_t recordedEntries, uint64_t validSize,
                           const std::vector<uint32_t>& travelling, uint8_t* buffer, Step listFull, OriginRecord* record);

// From a follow-up test file (layout, and the regions it lists, ascending): its XXH3-64 of each
// block, as the record's values, among the blocks of those regions.
Outcome RecordFromFollowUp(const File& followUp, const FollowUpLayout& layout, const uint32_t* listed,
                           const std::vector<uint32_t>& travelling, Step listFull, OriginRecord* record);

// Writes the fingerprint part at *at: its head from memory (headBytes), then the record's values
// and samples, then the check of them all, through buffer (kStreamBufferBytes). *at moves past it.
Outcome WriteFingerprintPart(const File& output, const uint8_t* head, uint64_t headBytes, const OriginRecord& record,
                             uint8_t* buffer, uint64_t* at);
