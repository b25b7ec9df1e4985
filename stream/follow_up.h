// The follow-up test file in the streaming operations: the valid-file scan reads its records as
// it goes through the valid file, and a repair whose result still differs writes one for the
// regions that differ (the layout is in core/test_file.h).
#pragma once

#include <cstdint>
#include <vector>

#include "core/test_file.h"
#include "platform/platform.h"
#include "stream/pipeline.h"
#include "stream/steps.h"

// Gives each slice of the valid file the XXH3-64 the follow-up holds for its blocks, when the
// slice lies in a region the follow-up lists; the slices come in the file's order. Reads
// with the calling thread's file calls; a record out of order or beyond the file, or a check
// that does not hold, is refused as CheckFollowUp.
class FollowUpReader {
 public:
  // header: the file's first layout.headerBytes bytes; record: room for one record; listed:
  // room for the layout's region count of indices.
  FollowUpReader(const File& file, const FollowUpLayout& layout, const uint8_t* header, uint8_t* record, uint32_t* listed);

  Outcome Expect(Slice& slice);
  // Once the whole valid file has been read: every record read, and the check holds.
  Outcome Finish();
  // The regions listed, ascending.
  const uint32_t* Listed() const { return listed_; }

 private:
  const File& file_;
  FollowUpLayout layout_;
  uint8_t* record_;
  uint32_t* listed_;
  Hash128Stream check_;
  uint64_t at_;
  uint64_t recordsRead_ = 0;
  bool loaded_ = false;   // record_ holds a record not yet reached
  bool current_ = false;  // record_ is the region of the slices under way
};

// Writes the follow-up test file, named after brokenFilePath in folder (by nameOutput, as
// StreamControl names outputs; no more readable than the broken file), for the regions of the
// open broken file (size bytes) in differing, ascending, naming the repair file it follows
// (followed; null for one that names nothing): reads each region through buffer
// (kStreamBufferBytes) and hashes its blocks into hashes (8 * kStreamBufferBlocks bytes). Done
// with its path and size in the outcome; a stop at CreateFollowUp, WriteFollowUp or ReadBack,
// or Cancelled when asked (the progress only answers that: its percentage stays at 100).
Outcome WriteFollowUp(const File& brokenFile, uint64_t size, const std::vector<uint32_t>& differing,
                      const FollowedRepair* followed, const char* folder, const char* brokenFilePath, OutputNamer nameOutput,
                      uint8_t* buffer, uint8_t* hashes, Progress& progress);
