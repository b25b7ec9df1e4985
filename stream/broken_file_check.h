// The guard of a repair with a check file: the broken file, through the handle the repair
// will write with, must still be the file the test file was made from (size and every block
// checksum), or nothing is written. The same one read of the file also checks the repair
// file's record of the broken file (stream/origin_check.h) and hashes the file as the repair
// will leave it, the carried blocks taken from the repair file, so that the repair need only
// read back what it wrote.
#pragma once

#include <cstdint>
#include <vector>

#include "core/fingerprint_part.h"
#include "core/repair_file.h"
#include "platform/platform.h"
#include "stream/fingerprint_check.h"
#include "stream/operations.h"
#include "stream/pipeline.h"
#include "stream/steps.h"

// A file the check compares (the broken file or the test file) could not be opened, measured
// or read, at step: the check did not pass, and nothing has been written.
Outcome CheckCouldNotRead(Step step, SystemError failed);

// What the pass takes from the repair beyond the check. list must be strictly ascending for the
// pass to take the carried blocks (otherwise it leaves them alone and predicts nothing).
struct RepairToCome {
  const File* repairFile = nullptr;
  const RepairFileLayout* layout = nullptr;
  const std::vector<uint32_t>* list = nullptr;
  // With a fingerprint: its record, when it has one, is checked in the pass; regions (room for
  // the valid file's region count) receive the hashes of the file as it will be.
  const FingerprintPart* header = nullptr;
  const OriginRecord* record = nullptr;
  Hash128* regions = nullptr;
  uint8_t* buffer = nullptr;  // kStreamBufferBytes for the carried blocks read
};

// The file as the repair will leave it, hashed in the pass.
struct Prediction {
  bool made = false;
  bool originChecked = false;
  Hash128 whole;
};

// Reads the broken file (size bytes) and the test file at checkFilePath, which keeps the broken
// file's waits, through the ring. Done
// when they agree (and the record holds); otherwise CheckRefused with the reason in check, or
// with the step and the system's error when a file could not be read; OtherFile when the check
// passes but the record does not; Cancelled on a request to stop.
Outcome CheckBrokenFile(const File& brokenFile, uint64_t size, const char* checkFilePath, const RepairToCome& repair,
                        SliceRing& ring, Progress& progress, Prediction* prediction);

// Whether a block list is strictly ascending, as every scan writes it.
bool Ascending(const std::vector<uint32_t>& list);
