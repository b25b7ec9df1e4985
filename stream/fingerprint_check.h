// What a repair and a verification share: reading a repair file's fingerprint part whole and
// checking it before anything is touched, and reading a file back to compare it with that
// fingerprint, with the reading on one thread and the hashing on another.
#pragma once

#include <cstdint>
#include <vector>

#include "core/fingerprint_part.h"
#include "core/repair_file.h"
#include "platform/platform.h"
#include "stream/origin_record.h"
#include "stream/pipeline.h"
#include "stream/steps.h"

// Reads the bytes behind the last repair block: none leaves *part null. Otherwise *part is
// the part's head (FingerprintHeadBytes) in memory of its own (the caller releases it), and
// record, when not null, the values and samples of version 2 (its origin is the header's); the
// whole part is checked: a part that does
// not hold is refused as CheckFingerprint; the memory and the read stop at CommitRepairBuffer
// and ReadRepair.
Outcome ReadFingerprint(FileHandle repairFile, uint64_t repairSize, const RepairFileLayout& layout, uint8_t** part,
                        FingerprintPart* header, OriginRecord* record);

struct ReadBackBuffers {
  SliceRing ring;
  Hash128* regions = nullptr;
};
// 0 with the last error set when the memory cannot be had; what was had is released.
int AcquireReadBack(ReadBackBuffers* buffers, const FingerprintPart& header);
void ReleaseReadBack(ReadBackBuffers* buffers);

// Reads the file (fileSize bytes; the progress's total counts as many of them as the valid file
// has) through its open handle and compares it with the part.
// Done with verification, fingerprint and, for Differs, the ranges in the outcome, and the
// regions that differ in differing; a read that fails stops at ReadBack.
Outcome ReadBackAndCompare(FileHandle file, uint64_t fileSize, const uint8_t* part, const FingerprintPart& header,
                           ReadBackBuffers& buffers, Progress& progress, std::vector<uint32_t>* differing);
