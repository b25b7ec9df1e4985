// What a valid-file scan does to one file, for a single file and for each file of a folder:
// the first pass, which reads the file beside the test file's checksums and lists the blocks
// that travel, and the second, which reads those blocks again and writes them with their
// numbers into the repair file.
#pragma once

#include <cstdint>
#include <vector>

#include "core/exchange_rules.h"
#include "core/fingerprint.h"
#include "core/sketch.h"
#include "platform/platform.h"
#include "stream/follow_up.h"
#include "stream/pipeline.h"
#include "stream/steps.h"

// Where a file's checksums are in a test file.
struct TestEntries {
  const File* file = nullptr;
  uint64_t at = 0;     // the first block's
  uint64_t bytes = 0;  // of the entries there; the blocks past them read as entry 0
};

// Where a compact test file has the broken file's blocks: in a sketch, which the first pass
// takes each of the valid file's blocks 1 to blocks out of (those both files have), leaving the
// differences to decode.
struct SketchedEntries {
  Sketch* sketch = nullptr;
  uint64_t blocks = 0;
};

// The first pass: each slice of the valid file with its entries (or, answering a follow-up
// test file, the hashes it expects); on the working thread its checksums and fingerprint, and
// which of its blocks travel; their numbers listed in ascending order. Against a sketch, only
// the blocks that travel by their bytes alone (past the broken file's end) are listed here, and
// the rest once the sketch is decoded. Fill stops at ReadValid or ReadTest (or where the
// follow-up reader stops); Collect at listFull, with NotEnoughMemory, when the list cannot grow.
class TravellingBlocks final : public SliceJob {
 public:
  TravellingBlocks(const File& validFile, const Exchange& exchange, const TestEntries& entries, FollowUpReader* followUp,
                   Fingerprinter& print, std::vector<uint32_t>* travelling, Step listFull)
      : validFile_(validFile), exchange_(exchange), entries_(entries), followUp_(followUp), print_(print),
        travelling_(travelling), listFull_(listFull) {}
  TravellingBlocks(const File& validFile, const Exchange& exchange, const SketchedEntries& sketched, Fingerprinter& print,
                   std::vector<uint32_t>* travelling, Step listFull)
      : validFile_(validFile), exchange_(exchange), followUp_(nullptr), sketched_(sketched), print_(print),
        travelling_(travelling), listFull_(listFull) {}

  // Takes the valid file's bytes from memory (the whole file, its last block padded with zero
  // bytes) instead of reading them.
  void ReadFrom(const uint8_t* bytes) { validBytes_ = bytes; }

  Outcome Fill(Slice& slice) override;
  void Work(Slice& slice) override;
  Outcome Collect(Slice& slice) override;

 private:
  const File& validFile_;
  const uint8_t* validBytes_ = nullptr;
  Exchange exchange_;
  TestEntries entries_;
  FollowUpReader* followUp_;
  SketchedEntries sketched_;
  Fingerprinter& print_;
  std::vector<uint32_t>* travelling_;
  Step listFull_;
};

// The second pass: writes into output from *at on the numbers of the travelling blocks
// (ascending), behind the filled bytes already at the start of buffer (kStreamBufferBytes;
// they go at *at - filled), then the blocks, read again from the valid file (validSize bytes),
// neighbours in one read, a last block padded with zero bytes; checksums, when not null,
// receives each block's checksum as it goes. Done with *at past them; a stop at ReadValid or
// WriteOutput; Cancelled when asked.
Outcome WriteTravellingBlocks(const File& validFile, uint64_t validSize, const std::vector<uint32_t>& travelling,
                              uint8_t* buffer, uint32_t filled, const File& output, uint64_t* at, Progress& progress,
                              std::vector<uint32_t>* checksums = nullptr);
// Its two halves, for a record that carries more between the numbers and the blocks (a folder's
// checked patch).
Outcome WriteTravellingNumbers(const std::vector<uint32_t>& travelling, uint8_t* buffer, uint32_t filled, const File& output,
                               uint64_t* at);
Outcome WriteTravellingBytes(const File& validFile, uint64_t validSize, const std::vector<uint32_t>& travelling,
                             uint8_t* buffer, const File& output, uint64_t* at, Progress& progress,
                             std::vector<uint32_t>* checksums = nullptr);
