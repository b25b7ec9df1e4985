// Streaming valid-file scan: compares the valid file, slice by slice, with the test file's
// entries and writes the repair file NAME.fix with every damaged block and the valid file's
// fingerprint. The first pass reads the valid file while a second thread takes its checksums
// and its fingerprint and decides which blocks travel; it keeps only the damaged-block list.
// The second pass reads those blocks again to write them, so memory does not grow with the
// damage beyond the list itself. Then the test file's values of those blocks and of a sample
// of the others are read, which the fingerprint part records so that the repair can tell the
// file it was made for (stream/origin_record.h). A follow-up test file is answered the same
// way, block by block by XXH3-64 instead of by checksum. The repair file names the test file it
// answers, so that a stale answer, or an earlier round's test file, is told for what it is.
#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "core/block.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/fingerprint_part.h"
#include "core/repair_file.h"
#include "core/test_file.h"
#include "stream/compact_answer.h"
#include "stream/exchange_file_identity.h"
#include "stream/follow_up.h"
#include "stream/operations.h"
#include "stream/origin_record.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "stream/travelling_blocks.h"
#include "support/files_by_path.h"

namespace {

// What one call holds, released as it goes; the waits first, which the files keep.
struct ValidScan {
  explicit ValidScan(const std::atomic<bool>* stop) : waits(stop) {}
  HeldFileWaits waits;
  File validFile;
  File testFile;
  SliceRing ring;
  Memory record;  // a follow-up's record, and the regions it lists
  Memory listed;
  Memory regions;
  Memory part;
  OutputFile output;
};

// The exchange, and where the test file's entries are.
struct Comparison {
  Exchange exchange;    // S, N, B and E
  TestFileLayout test;  // the entries' place
  uint64_t testLength;  // T
  CompactTestFile compact;  // or its sketch, for a compact test file
};

// Reads which test file it is and checks it against the valid file.
Outcome ReadTestFile(ValidScan& scan, Comparison& c, uint8_t* start, FollowUpLayout* followUp) {
  Exchange& exchange = c.exchange;
  const uint32_t startBytes = static_cast<uint32_t>(std::min<uint64_t>(c.testLength, kLongestFollowUpHeader));
  if (startBytes > 0) {
    if (const SystemError failed = ReadAt(scan.testFile, 0, start, startBytes)) return Stopped(Step::ReadTest, failed);
  }
  switch (ReadExchangeFileKind(start, c.testLength)) {
    case ExchangeFileKind::FollowUpTestFile:
      if (!ReadFollowUpLayout(start, c.testLength, followUp) || followUp->size != exchange.validSize) {
        return Refused(Step::CheckFollowUp);
      }
      // It describes the repaired file, which has the valid size: only its blocks differ.
      exchange.recordedSize = followUp->size;
      return DoneOutcome();
    case ExchangeFileKind::CompactTestFile: {
      Outcome read = ReadCompactTestFile(scan.testFile, c.testLength, start, scan.ring.slices[0].bytes, Step::AllocateTest,
                                         &c.compact);
      if (read.ending != Ending::Done) return read;
      exchange.recordedSize = c.compact.header.brokenSize;
      exchange.entries = BlockCount64(exchange.recordedSize);
      return DoneOutcome();
    }
    case ExchangeFileKind::Plain: {
      // A repair file given for the test file (its own fingerprint part tells it).
      ExchangeFileRole role;
      if (const SystemError failed = FindExchangeFileRole(scan.testFile, c.testLength, scan.ring.slices[0].bytes, &role)) {
        return Stopped(Step::ReadTest, failed);
      }
      if (role == ExchangeFileRole::RepairFile) return Refused(Step::TestIsRepairFile);
      break;
    }
    case ExchangeFileKind::AskingRepairFile:
      return Refused(Step::TestIsRepairFile);
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::CompactFolderTestFile:
    case ExchangeFileKind::FolderAskingFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::FolderRepairFile:
      return Refused(Step::CheckTestFileForFolder);
  }
  // Either form, whatever the valid file's size: a broken copy longer than the valid file is
  // answered too, and its repair cuts it to the valid size. A test file too short to hold a
  // size is refused as the dialog always refused it, as one of a larger file.
  const TestFileVerdict verdict = ReadTestFileLayout(start, c.testLength, true, &c.test);
  if (verdict == TestFileVerdict::LargeMalformed) return Refused(Step::CheckLargeTestFile);
  if (verdict == TestFileVerdict::TooShort) return Refused(Step::CheckTestFileSize);
  exchange.recordedSize = c.test.recordedSize;
  exchange.entries = c.test.entries;
  return DoneOutcome();
}

// An exchange file where the valid file goes is refused as what it is.
Outcome RefuseExchangeFileAsValid(ValidScan& scan, const Comparison& c, uint8_t* buffer) {
  ExchangeFileRole role;
  if (const SystemError failed = FindExchangeFileRole(scan.validFile, c.exchange.validSize, buffer, &role)) {
    return Stopped(Step::ReadValid, failed);
  }
  switch (role) {
    case ExchangeFileRole::TestFile: return Refused(Step::ValidIsTestFile);
    case ExchangeFileRole::RepairFile: return Refused(Step::ValidIsRepairFile);
    case ExchangeFileRole::None: break;
  }
  return DoneOutcome();
}

// The repair file already under the output's name, where it says it answers a later round of
// this exchange: the test file given is the one that round's test file followed on from. What
// cannot be read is left to the writing, which reports it.
Outcome RefuseEarlierTestFile(const char* outputFolder, const char* validFilePath, const StreamControl& control,
                              HeldFileWaits* waits, const Hash128& testFile) {
  char path[kPathBufferSize] = {};
  if (OutputPathFor(path, outputFolder, validFilePath, ".fix", control.nameOutput)) return DoneOutcome();
  File existing;
  uint64_t length = 0;
  if (OpenInputFile(path, waits, &existing, FileAccess::ReadOnly) || GetFileSize64(existing, &length)) return DoneOutcome();
  bool found = false;
  RepairAnswers answers;
  if (ReadRepairAnswers(existing, length, &found, &answers) || !found || answers.earlierTestFile != testFile) {
    return DoneOutcome();
  }
  Outcome refused = Refused(Step::CheckEarlierTestFile);
  refused.outputPath = path;
  return refused;
}

Outcome Scan(ValidScan& scan, const char* validFilePath, const char* testFilePath, const char* outputFolder,
             const StreamControl& control) {
  if (const SystemError failed = OpenInputByPath(validFilePath, FileAccess::ReadOnly, &scan.waits, &scan.validFile)) {
    return Stopped(Step::OpenValid, failed);
  }
  if (const SystemError failed = OpenInputByPath(testFilePath, FileAccess::ReadOnly, &scan.waits, &scan.testFile)) {
    return Stopped(Step::OpenTest, failed);
  }

  Comparison c{};
  Exchange& exchange = c.exchange;
  if (const SystemError failed = GetFileSize64(scan.validFile, &exchange.validSize)) return Stopped(Step::SizeValid, failed);
  // An empty valid file is refused as a request for 0 bytes of memory, as it always was.
  if (exchange.validSize == 0) return Stopped(Step::AllocateValid, ErrorOf(SystemErrorKind::InvalidParameter));
  if (exchange.validSize > kLargestExchangedSize) return Stopped(Step::SizeValid, ErrorOf(SystemErrorKind::FileTooLarge));
  exchange.validBlocks = BlockCount64(exchange.validSize);
  if (const SystemError failed = AcquireSlices(&scan.ring)) return Stopped(Step::AllocateValid, failed);

  if (const SystemError failed = GetFileSize64(scan.testFile, &c.testLength)) return Stopped(Step::SizeTest, failed);
  Outcome fields = RefuseExchangeFileAsValid(scan, c, scan.ring.slices[0].bytes);
  if (fields.ending != Ending::Done) return fields;
  uint8_t start[kLongestFollowUpHeader] = {};
  FollowUpLayout followUpLayout;
  Outcome tested = ReadTestFile(scan, c, start, &followUpLayout);
  if (tested.ending != Ending::Done) return tested;
  const bool answering = followUpLayout.regions > 0;
  Sketch* sketch = c.compact.sketch ? &*c.compact.sketch : nullptr;
  if (answering) {
    if (const SystemError failed = CommitMemory(static_cast<uint32_t>(followUpLayout.RecordBytes()), &scan.record)) {
      return Stopped(Step::AllocateTest, failed);
    }
    if (const SystemError failed = CommitMemory(static_cast<uint32_t>(4 * followUpLayout.regions), &scan.listed)) {
      return Stopped(Step::AllocateTest, failed);
    }
  }
  const uint64_t regionCount = FingerprintRegionCount(exchange.validSize);
  if (const SystemError failed = CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * regionCount), &scan.regions)) {
    return Stopped(Step::AllocateFingerprint, failed);
  }
  uint32_t* listed = scan.listed.As<uint32_t>();

  Progress progress(control, exchange.validSize);
  Fingerprinter print(exchange.validSize, scan.regions.As<Hash128>());
  FollowUpReader followUp(scan.testFile, followUpLayout, start, scan.record.bytes(), listed);
  std::vector<uint32_t> damaged;
  const TestEntries entries{&scan.testFile, c.test.headerBytes, c.testLength - c.test.headerBytes};
  const SketchedEntries sketched{sketch, std::min(exchange.entries, exchange.validBlocks)};
  TravellingBlocks pass = sketch != nullptr
                              ? TravellingBlocks(scan.validFile, exchange, sketched, print, &damaged, Step::CommitList)
                              : TravellingBlocks(scan.validFile, exchange, entries, answering ? &followUp : nullptr, print,
                                                 &damaged, Step::CommitList);
  Outcome collected = RunSlices(scan.ring, pass, exchange.validSize, progress);
  if (collected.ending != Ending::Done) return collected;
  CompactDifferences differences;
  if (sketch != nullptr) {
    Outcome decoded = DecodeCompactDifferences(*sketch, exchange.entries, exchange.validBlocks, Step::CommitList, &differences);
    if (decoded.ending != Ending::Done) return decoded;
    // Too much damage for the symbols sent: the request for more goes back under the repair
    // file's name.
    if (!differences.decoded) {
      if (const SystemError failed =
              CreateOutput(&scan.output, outputFolder, validFilePath, scan.validFile, ".fix", control.nameOutput, &scan.waits)) {
        return Stopped(Step::CreateOutput, failed);
      }
      return WriteAskingRepairFile(c.compact, differences, &scan.output);
    }
    Outcome added = AddDifferingBlocks(differences, exchange.validBlocks, &damaged, Step::CommitList);
    if (added.ending != Ending::Done) return added;
  }
  if (answering) {
    Outcome finished = followUp.Finish();
    if (finished.ending != Ending::Done) return finished;
  }
  // Equal checksums are not equal files: the repair file of no blocks lets the other side prove
  // them so, or find what the checksums cannot see.
  const bool identical = !answering && CopiesIdentical(exchange, damaged.size());
  RepairAnswers answers;
  if (const SystemError failed = HashWholeFile(scan.testFile, c.testLength, scan.ring.slices[0].bytes, &answers.testFile)) {
    return Stopped(Step::ReadTest, failed);
  }
  if (answering && followUpLayout.hasFollowed) answers.earlierTestFile = followUpLayout.followed.testFile;
  Outcome earlier = RefuseEarlierTestFile(outputFolder, validFilePath, control, &scan.waits, answers.testFile);
  if (earlier.ending != Ending::Done) return earlier;

  OriginRecord record;
  std::vector<uint32_t> checksums;  // of the carried blocks, for a compact test file's values
  Outcome recorded =
      answering         ? RecordFromFollowUp(scan.testFile, followUpLayout, listed, damaged, Step::CommitList, &record)
      : sketch != nullptr ? RecordFromValidFile(scan.validFile, exchange.recordedSize, exchange.validSize, damaged,
                                                scan.ring.slices[0].bytes, Step::CommitList, &record)
                          : RecordFromTestFile(entries, exchange.recordedSize, exchange.entries, exchange.validSize, damaged,
                                               scan.ring.slices[0].bytes, Step::CommitList, &record);
  if (recorded.ending != Ending::Done) return recorded;
  if (sketch != nullptr) {
    try {
      checksums.reserve(damaged.size());
    } catch (const std::bad_alloc&) {
      return Stopped(Step::CommitList, ErrorOf(SystemErrorKind::NotEnoughMemory));
    }
  }
  // The head in memory: the header and the region hashes, a little over 1 MiB at most.
  const uint64_t headBytes =
      (answering ? FingerprintPartBytes(FingerprintForm::ListedRegions, followUpLayout.regions, &record.origin, &answers)
                 : FingerprintPartBytes(FingerprintForm::EveryRegion, regionCount, &record.origin, &answers)) -
      OriginListBytes(record.origin) - kFingerprintCheckBytes;
  if (const SystemError failed = CommitMemory(static_cast<uint32_t>(headBytes), &scan.part)) {
    return Stopped(Step::AllocateFingerprint, failed);
  }
  StoreFingerprintHead(scan.part.bytes(), exchange.validSize, print.Whole(), scan.regions.As<Hash128>(),
                       answering ? listed : nullptr, followUpLayout.regions, record.origin, &answers);

  if (const SystemError failed =
          CreateOutput(&scan.output, outputFolder, validFilePath, scan.validFile, ".fix", control.nameOutput, &scan.waits)) {
    return Stopped(Step::CreateOutput, failed);
  }
  // The header, the list and the blocks, then the fingerprint part.
  uint8_t* buffer = scan.ring.slices[0].bytes;
  const uint32_t header = StoreRepairFileHeader(buffer, exchange.validSize, static_cast<uint32_t>(damaged.size()));
  uint64_t written = header;
  Outcome wrote = WriteTravellingBlocks(scan.validFile, exchange.validSize, damaged, buffer, header, scan.output.file, &written,
                                       progress, sketch != nullptr ? &checksums : nullptr);
  if (wrote.ending != Ending::Done) return wrote;
  // The broken side's values of the carried blocks, from their checksums here and the
  // differences decoded; one that is no checksum was never a difference of a real file.
  if (sketch != nullptr && !CarriedValues(differences, exchange.entries, damaged, checksums, &record.values)) {
    return Refused(Step::CheckCompactTestFile);
  }
  wrote = WriteFingerprintPart(scan.output.file, scan.part.bytes(), headBytes, record, buffer, &written);
  if (wrote.ending != Ending::Done) return wrote;
  Outcome result = FinishOutput(&scan.output);
  if (result.ending != Ending::Done) return result;
  if (identical) result.ending = Ending::Identical;
  result.outputBytes = written;
  result.validSize = exchange.validSize;
  result.recordedSize = exchange.recordedSize;
  result.blocks = std::move(damaged);
  result.fingerprinted = true;
  result.fingerprint = print.Whole();
  return result;
}

}  // namespace

Outcome StreamScanValidFile(const char* validFilePath, const char* testFilePath, const char* outputFolder,
                            const StreamControl& control) {
  ValidScan scan(control.stop);
  return Scan(scan, validFilePath, testFilePath, outputFolder, control);
}
