// The folder repair file. The valid folder is listed and matched with the test file's
// entries (tree/match_plan.h), which decides, before any file is read, which entries are
// extra, missing, renamed or to be compared. Then the records are written: the extra entries
// first (so that a repair that deletes them clears the way), then the valid folder's entries
// in its order, each folder before what it holds. A file is compared as a single file is
// (stream/travelling_blocks.h): read once beside the working thread that takes its checksums
// and fingerprints, then the blocks that must travel read again to be written.
#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/folder_repair_file.h"
#include "core/folder_test_file.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "stream/travelling_blocks.h"
#include "tree/file_reader.h"
#include "tree/folder_cursor.h"
#include "tree/folder_file.h"
#include "tree/listed_file.h"
#include "tree/listing.h"
#include "tree/match_plan.h"
#include "tree/operations.h"
#include "tree/test_index.h"

namespace {

// Room for a record's start and its fields: a file's size, fingerprint and block count, or a
// rename's old name, which is no longer than a path.
constexpr uint32_t kRecordRoom = 3 + kLongestFolderPath + std::max<uint32_t>(8 + kHash128Bytes + 4, 2 + kLongestFolderPath);

// What one call holds; null until obtained.
struct ValidFolderScan {
  FolderHandle top = nullptr;
  FolderFile testFile;
  FileHandle file = nullptr;
  SliceRing ring;
  uint8_t* record = nullptr;
  Hash128* regions = nullptr;  // room for the region hashes of the file under way
  OutputFile output;
};

void Release(ValidFolderScan& scan) {
  AbandonOutput(&scan.output);
  if (scan.file != nullptr) CloseFile(scan.file);
  CloseFolderFile(&scan.testFile);
  if (scan.top != nullptr) CloseFolder(scan.top);
  ReleaseSlices(&scan.ring);
  if (scan.record != nullptr) ReleaseMemory(scan.record);
  if (scan.regions != nullptr) ReleaseMemory(scan.regions);
}

class Writer {
 public:
  Writer(ValidFolderScan& scan, const TreeListing& listing, const TestIndex& index, Pipeline& pipeline, Progress& progress,
         TreeOutcome& result, const char* validFolderPath, const char* outputFolder, bool prove)
      : scan_(scan), listing_(listing), index_(index), pipeline_(pipeline), progress_(progress), result_(result),
        cursor_(scan.top), validFolderPath_(validFolderPath), outputFolder_(outputFolder), prove_(prove) {}

  Outcome Record(const PlannedRecord& planned) {
    if (progress_.StopRequested()) return CancelledOutcome(false);
    switch (planned.action) {
      case FolderAction::ExtraFile:
      case FolderAction::ExtraFolder:
        return Start(planned.action, std::string(index_.Path(planned.broken)), nullptr, 0);
      case FolderAction::CreateFolder:
        return Start(planned.action, listing_.Path(planned.valid), nullptr, 0);
      case FolderAction::Rename: {
        const std::string_view oldName = index_.Name(planned.broken);
        uint8_t name[2 + kLongestFolderPath];
        name[0] = static_cast<uint8_t>(oldName.size());
        name[1] = static_cast<uint8_t>(oldName.size() >> 8);
        std::copy(oldName.begin(), oldName.end(), name + 2);
        return Start(planned.action, listing_.Path(planned.valid), name, static_cast<uint32_t>(2 + oldName.size()));
      }
      case FolderAction::Patch: return Compare(planned.valid, planned.broken);
      case FolderAction::WholeFile: return Whole(planned.valid);
    }
    return DoneOutcome();
  }

  // The header, with the number of records, once they are all written.
  Outcome Finish() {
    cursor_.Close();
    if (count_ == 0) return DoneOutcome();
    if (!WriteAt(scan_.output.file, 0, scan_.record, StoreFolderRepairHeader(scan_.record, count_))) {
      return StoppedAt(Step::WriteOutput);
    }
    if (!SetFileLength(scan_.output.file, written_)) return StoppedAt(Step::WriteOutput);
    return FinishOutput(&scan_.output);
  }

  uint64_t count() const { return count_; }
  uint64_t written() const { return written_; }

 private:
  // A file carried whole: each slice fingerprinted on the working thread and written as read.
  class WholeFile final : public SliceJob {
   public:
    WholeFile(Writer& writer, Fingerprinter& fingerprint) : writer_(writer), fingerprint_(fingerprint) {}
    Outcome Fill(Slice& slice) override {
      if (!ReadAt(writer_.scan_.file, slice.offset, slice.bytes, slice.count)) return StoppedAt(Step::ReadValid);
      return DoneOutcome();
    }
    void Work(Slice& slice) override { fingerprint_.Add(slice.bytes, slice.count); }
    Outcome Collect(Slice& slice) override { return writer_.Write(slice.bytes, slice.count); }

   private:
    Writer& writer_;
    Fingerprinter& fingerprint_;
  };

  static bool ValidFileFailed(const Outcome& outcome) {
    return outcome.ending == Ending::Stopped && outcome.step == Step::ReadValid;
  }

  Outcome Write(const uint8_t* bytes, uint32_t count) {
    if (!WriteAt(scan_.output.file, written_, bytes, count)) return StoppedAt(Step::WriteOutput);
    written_ += count;
    return DoneOutcome();
  }

  // A record's start and fields; the output is made with the first record, so that
  // identical folders write nothing at all.
  Outcome Start(FolderAction action, const std::string& path, const uint8_t* fields, uint32_t fieldBytes) {
    if (scan_.output.file == nullptr) {
      if (!CreateFolderOutput(&scan_.output, outputFolder_, validFolderPath_, ".fix")) return StoppedAt(Step::CreateOutput);
      if (!WriteAt(scan_.output.file, 0, scan_.record, StoreFolderRepairHeader(scan_.record, 0))) {
        return StoppedAt(Step::WriteOutput);
      }
    }
    uint32_t bytes = StoreFolderRecordStart(scan_.record, action, path);
    std::copy(fields, fields + fieldBytes, scan_.record + bytes);
    ++count_;
    return Write(scan_.record, bytes + fieldBytes);
  }

  // The valid file's own failures leave it out of the repair file, told as skipped.
  Outcome Unreadable(uint32_t v, Step step, uint32_t error, uint64_t recordStart, bool recordStarted) {
    result_.entries.push_back(UnreadableReport(listing_.Path(v), step, error));
    if (scan_.file != nullptr) CloseFile(scan_.file);
    scan_.file = nullptr;
    if (recordStarted) {
      written_ = recordStart;
      --count_;
    }
    return DoneOutcome();
  }

  // Opens the valid file; its size in *size. 0 when it cannot be had (told as skipped).
  int Open(uint32_t v, uint64_t* size) {
    Step failed;
    scan_.file = OpenListedFile(cursor_, listing_, v, ListedFileSteps{Step::OpenValid, Step::SizeValid}, size, &failed);
    if (scan_.file == nullptr) return Unreadable(v, failed, LastSystemError(), 0, false), 0;
    return 1;
  }

  Outcome Whole(uint32_t v) {
    uint64_t size;
    if (!Open(v, &size)) return DoneOutcome();
    const uint64_t recordStart = written_;
    uint8_t fields[8 + kHash128Bytes];
    StoreFolderFileFields(fields, size, Hash128{});
    Outcome wrote = Start(FolderAction::WholeFile, listing_.Path(v), fields, sizeof fields);
    if (wrote.ending != Ending::Done) return wrote;
    const uint64_t fieldsAt = written_ - sizeof fields;
    Fingerprinter fingerprint(size, scan_.regions);
    WholeFile job(*this, fingerprint);
    wrote = pipeline_.Run(job, size, progress_);
    if (ValidFileFailed(wrote)) return Unreadable(v, Step::ReadValid, wrote.systemError, recordStart, true);
    if (wrote.ending != Ending::Done) return wrote;
    CloseFile(scan_.file);
    scan_.file = nullptr;
    if (listing_.entries[v].fetchedWhenRead) ++result_.fetched;
    StoreFolderFileFields(fields, size, fingerprint.Whole());
    if (!WriteAt(scan_.output.file, fieldsAt, fields, sizeof fields)) return StoppedAt(Step::WriteOutput);
    EntryReport report;
    report.path = listing_.Path(v);
    report.event = EntryEvent::Missing;
    result_.entries.push_back(std::move(report));
    ++result_.files;
    return DoneOutcome();
  }

  // The broken file's region fingerprints, as many as its test file has (one: its whole).
  Outcome BrokenRegions(const IndexedEntry& broken, std::vector<Hash128>* regions) {
    const uint64_t stored = StoredRegionCount(broken.size);
    if (stored == 0) {
      if (broken.size != 0) regions->push_back(broken.fingerprint);
      return DoneOutcome();
    }
    regions->resize(stored);
    for (uint64_t r = 0; r < stored; ++r) {
      uint8_t bytes[kHash128Bytes];
      if (!ReadAt(scan_.testFile.file, broken.regionsAt + kHash128Bytes * r, bytes, sizeof bytes)) {
        return StoppedAt(Step::ReadTest);
      }
      (*regions)[r] = LoadHash128(bytes);
    }
    return DoneOutcome();
  }

  // Blocks of a region whose fingerprint differs while each block's checksum agrees: the
  // whole region travels. Only regions of the same extent in both files can be compared.
  Outcome AddDifferingRegions(const IndexedEntry& broken, uint64_t size, const Fingerprinter& fingerprint,
                              std::vector<uint32_t>* damaged) {
    const uint64_t regionSize = FingerprintRegionSize(size);
    if (FingerprintRegionSize(broken.size) != regionSize) return DoneOutcome();
    std::vector<Hash128> brokenRegions;
    Outcome read = BrokenRegions(broken, &brokenRegions);
    if (read.ending != Ending::Done) return read;
    const Hash128* validRegions = fingerprint.Regions();
    std::vector<uint32_t> added;
    for (uint64_t r = 0; r < fingerprint.RegionCount() && r < brokenRegions.size(); ++r) {
      const uint64_t start = r * regionSize;
      if (std::min<uint64_t>(start + regionSize, size) != std::min<uint64_t>(start + regionSize, broken.size)) continue;
      if (validRegions[r] == brokenRegions[r]) continue;
      const uint64_t firstBlock = start / kBlockSize + 1;
      const uint64_t lastBlock = BlockCount64(std::min<uint64_t>(start + regionSize, size));
      const auto from = std::lower_bound(damaged->begin(), damaged->end(), firstBlock);
      if (from != damaged->end() && *from <= lastBlock) continue;
      for (uint64_t block = firstBlock; block <= lastBlock; ++block) added.push_back(static_cast<uint32_t>(block));
    }
    if (!added.empty()) {
      damaged->insert(damaged->end(), added.begin(), added.end());
      std::sort(damaged->begin(), damaged->end());
    }
    return DoneOutcome();
  }

  // A valid file whose name the broken folder has: read once beside its checksums in the test
  // file for every block that must travel and its fingerprints; those blocks read again to be
  // written.
  Outcome Compare(uint32_t v, uint32_t b) {
    const IndexedEntry& broken = index_.entries[b];
    uint64_t size;
    if (!Open(v, &size)) return DoneOutcome();
    ++result_.files;
    Exchange exchange;
    exchange.validSize = size;
    exchange.validBlocks = BlockCount64(size);
    exchange.recordedSize = broken.size;
    exchange.entries = BlockCount64(broken.size);
    Fingerprinter fingerprint(size, scan_.regions);
    std::vector<uint32_t> damaged;
    const TestEntries entries{scan_.testFile.file, broken.checksumsAt, 4 * exchange.entries};
    TravellingBlocks pass(scan_.file, exchange, entries, nullptr, fingerprint, &damaged, Step::AllocateListing);
    Outcome collected = pipeline_.Run(pass, size, progress_);
    if (ValidFileFailed(collected)) return Unreadable(v, Step::ReadValid, collected.systemError, 0, false);
    if (collected.ending != Ending::Done) return collected;
    if (listing_.entries[v].fetchedWhenRead) ++result_.fetched;
    const Hash128 whole = fingerprint.Whole();
    if (size == broken.size && whole == broken.fingerprint && damaged.empty()) {
      CloseFile(scan_.file);
      scan_.file = nullptr;
      if (!prove_) return DoneOutcome();
      // A proof asked for: a patch without blocks, which the repair reads back against the
      // fingerprint, so that the holder of the broken folder sees "identical" for himself.
      uint8_t fields[8 + kHash128Bytes + 4];
      StoreFolderFileFields(fields, size, whole);
      StoreU32LE(fields + 8 + kHash128Bytes, 0);
      return Start(FolderAction::Patch, listing_.Path(v), fields, sizeof fields);
    }
    Outcome added = AddDifferingRegions(broken, size, fingerprint, &damaged);
    if (added.ending != Ending::Done) return added;

    const uint64_t recordStart = written_;
    uint8_t fields[8 + kHash128Bytes + 4];
    StoreFolderFileFields(fields, size, whole);
    StoreU32LE(fields + 8 + kHash128Bytes, static_cast<uint32_t>(damaged.size()));
    Outcome wrote = Start(FolderAction::Patch, listing_.Path(v), fields, sizeof fields);
    if (wrote.ending != Ending::Done) return wrote;
    uint64_t at = written_;
    wrote = WriteTravellingBlocks(scan_.file, size, damaged, scan_.ring.slices[0].bytes, 0, scan_.output.file, &at, progress_);
    if (ValidFileFailed(wrote)) return Unreadable(v, Step::ReadValid, wrote.systemError, recordStart, true);
    if (wrote.ending != Ending::Done) return wrote;
    written_ = at;
    CloseFile(scan_.file);
    scan_.file = nullptr;
    EntryReport report;
    report.path = listing_.Path(v);
    report.event = EntryEvent::Damaged;
    report.blocks = damaged.size();
    result_.entries.push_back(std::move(report));
    return DoneOutcome();
  }

  ValidFolderScan& scan_;
  const TreeListing& listing_;
  const TestIndex& index_;
  Pipeline& pipeline_;
  Progress& progress_;
  TreeOutcome& result_;
  FolderCursor cursor_;
  const char* validFolderPath_;
  const char* outputFolder_;
  bool prove_;
  uint64_t count_ = 0;
  uint64_t written_ = kFolderFileHeaderBytes;
};

// Opens the test file and reads its index: refused when it is not a folder test file.
Outcome ReadTestFile(ValidFolderScan& scan, const char* testFilePath, TestIndex* index) {
  const FolderFileSteps steps{Step::OpenTest, Step::SizeTest, Step::AllocateTest, Step::ReadTest, Step::CheckTestFileForOneFile,
                              Step::CheckFolderTestFile};
  Outcome opened = OpenFolderFile(testFilePath, ExchangeFileKind::FolderTestFile, steps, &scan.testFile);
  if (opened.ending != Ending::Done) return opened;
  FolderTestHeader header;
  if (ReadFolderTestHeader(scan.testFile.start, scan.testFile.length, &header) != FolderFileVerdict::Read) {
    return Refused(Step::CheckFolderTestFile);
  }
  FileReader reader = scan.testFile.Records();
  return ReadTestIndex(reader, header, index);
}

Outcome Scan(ValidFolderScan& scan, const char* validFolderPath, const char* testFilePath, const char* outputFolder,
             const StreamControl& control, bool prove, TreeOutcome& result) {
  scan.top = OpenFolder(validFolderPath);
  if (scan.top == nullptr) return StoppedAt(Step::OpenValidFolder);
  TestIndex index;
  Outcome read = ReadTestFile(scan, testFilePath, &index);
  if (read.ending != Ending::Done) return read;
  TreeListing listing;
  Outcome listed = ListTree(scan.top, Step::ListFolder, control, &listing, &result.entries);
  if (listed.ending != Ending::Done) return listed;

  const MatchPlan plan = MatchTrees(listing, index, result);

  if (!AcquireSlices(&scan.ring)) return StoppedAt(Step::AllocateValid);
  scan.record = static_cast<uint8_t*>(CommitMemory(kRecordRoom));
  if (scan.record == nullptr) return StoppedAt(Step::AllocateTest);
  scan.regions = static_cast<Hash128*>(CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions)));
  if (scan.regions == nullptr) return StoppedAt(Step::AllocateFingerprint);

  uint64_t total = 0;
  for (const PlannedRecord& planned : plan.records) {
    if (planned.action == FolderAction::Patch || planned.action == FolderAction::WholeFile) total += listing.entries[planned.valid].size;
  }
  Progress progress(control, total);
  Pipeline pipeline(scan.ring);
  Writer writer(scan, listing, index, pipeline, progress, result, validFolderPath, outputFolder, prove);
  for (const std::vector<PlannedRecord>* list : {&plan.extras, &plan.records}) {
    for (const PlannedRecord& planned : *list) {
      Outcome wrote = writer.Record(planned);
      if (wrote.ending != Ending::Done) return wrote;
    }
  }
  // A stop that ended the wait for the last entry, held by another program, is a stop too.
  if (progress.StopRequested()) return CancelledOutcome(false);
  Outcome finished = writer.Finish();
  if (finished.ending != Ending::Done) return finished;
  if (writer.count() == 0) return IdenticalOutcome();
  finished.outputBytes = writer.written();
  return finished;
}

}  // namespace

TreeOutcome ScanValidFolder(const char* validFolderPath, const char* testFilePath, const char* outputFolder,
                            const StreamControl& control, bool prove) {
  ValidFolderScan scan;
  TreeOutcome result;
  const HeldFileWaits waits(control.stop);
  try {
    result.outcome = Scan(scan, validFolderPath, testFilePath, outputFolder, control, prove, result);
  } catch (const std::bad_alloc&) {
    result.outcome = StoppedOutcome(Step::AllocateListing, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  }
  Release(scan);
  return result;
}
