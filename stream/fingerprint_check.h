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

// Reads the bytes behind the last repair block: none leaves *part empty. Otherwise *part is
// the part's head (FingerprintHeadBytes) in memory of its own, and
// record, when not null, the values and samples of version 2 (its origin is the header's); the
// whole part is checked: a part that does
// not hold is refused as CheckFingerprint; the memory and the read stop at CommitRepairBuffer
// and ReadRepair.
Outcome ReadFingerprint(const File& repairFile, uint64_t repairSize, const RepairFileLayout& layout, Memory* part,
                        FingerprintPart* header, OriginRecord* record);

// The ring a file is read back through, and room for its region hashes.
struct ReadBackBuffers {
  SliceRing ring;
  Memory regions;
  Hash128* Regions() const { return regions.As<Hash128>(); }
};
SystemError AcquireReadBack(ReadBackBuffers* buffers, const FingerprintPart& header);

// Reads the file (fileSize bytes; the progress's total counts as many of them as the valid file
// has) through its open handle and compares it with the part.
// Done with verification, fingerprint and, for Differs, the ranges in the outcome, and the
// regions that differ in differing; a read that fails stops at ReadBack.
Outcome ReadBackAndCompare(const File& file, uint64_t fileSize, const uint8_t* part, const FingerprintPart& header,
                           ReadBackBuffers& buffers, Progress& progress, std::vector<uint32_t>* differing);
