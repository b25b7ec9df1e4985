// The folder test file: the tree is listed first (for the total the progress needs, and one
// order for everything), then each file is read once, in slices, while the working thread
// takes its block checksums and its fingerprints (stream/pipeline.h), and its record written
// as it goes. A file that cannot be opened or read is recorded as skipped instead, never left
// out.
#include <cstdint>
#include <new>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/fingerprint.h"
#include "core/folder_test_file.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "tree/folder_cursor.h"
#include "tree/listed_file.h"
#include "tree/listing.h"
#include "tree/operations.h"

namespace {

// Room for one record's start and file fields behind the checksums of a slice.
constexpr uint32_t kRecordRoom = 3 + kLongestFolderPath + 8 + kHash128Bytes;

// What one call holds; null until obtained.
struct BrokenFolderScan {
  FolderHandle top = nullptr;
  FileHandle file = nullptr;
  SliceRing ring;
  uint8_t* entries = nullptr;
  Hash128* regions = nullptr;  // room for the region hashes of the file under way
  OutputFile output;
};

void Release(BrokenFolderScan& scan) {
  AbandonOutput(&scan.output);
  if (scan.file != nullptr) CloseFile(scan.file);
  if (scan.top != nullptr) CloseFolder(scan.top);
  ReleaseSlices(&scan.ring);
  if (scan.entries != nullptr) ReleaseMemory(scan.entries);
  if (scan.regions != nullptr) ReleaseMemory(scan.regions);
}

class Writer {
 public:
  Writer(BrokenFolderScan& scan, const TreeListing& listing, Pipeline& pipeline, Progress& progress, TreeOutcome& result)
      : scan_(scan), listing_(listing), pipeline_(pipeline), progress_(progress), result_(result), cursor_(scan.top) {}

  // Writes every record; Done, Stopped at a write, or Cancelled.
  Outcome Entries() {
    for (uint32_t i = 0; i < listing_.entries.size(); ++i) {
      const ListedEntry& entry = listing_.entries[i];
      if (entry.kind == FolderEntryKind::Skipped && !entry.carried) continue;
      if (progress_.StopRequested()) return CancelledOutcome(false);
      Outcome wrote = DoneOutcome();
      switch (entry.kind) {
        case FolderEntryKind::Folder:
          wrote = Start(FolderEntryKind::Folder, i);
          ++result_.folders;
          break;
        case FolderEntryKind::Skipped:
          wrote = WriteSkipped(i, entry.reason);
          break;
        case FolderEntryKind::File:
          wrote = File(i);
          break;
      }
      if (wrote.ending != Ending::Done) return wrote;
      ++count_;
    }
    cursor_.Close();
    // A stop that ended the wait for the last entry, held by another program, is a stop too.
    if (progress_.StopRequested()) return CancelledOutcome(false);
    return DoneOutcome();
  }

  uint64_t count() const { return count_; }
  uint64_t written() const { return written_; }

 private:
  // A file's checksums, taken with its fingerprint on the working thread and written slice by
  // slice.
  class Checksums final : public SliceJob {
   public:
    Checksums(Writer& writer, Fingerprinter& fingerprint) : writer_(writer), fingerprint_(fingerprint) {}
    Outcome Fill(Slice& slice) override {
      if (!ReadPadded(writer_.scan_.file, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
        return StoppedAt(Step::ReadBroken);
      }
      return DoneOutcome();
    }
    void Work(Slice& slice) override { fingerprint_.AddBlocks(slice.bytes, slice.count, slice.checksums); }
    Outcome Collect(Slice& slice) override {
      for (uint32_t i = 0; i < slice.blocks; ++i) StoreU32LE(writer_.scan_.entries + 4 * i, slice.checksums[i]);
      return writer_.Write(writer_.scan_.entries, 4 * slice.blocks);
    }

   private:
    Writer& writer_;
    Fingerprinter& fingerprint_;
  };

  Outcome Write(const uint8_t* bytes, uint32_t count) {
    if (!WriteAt(scan_.output.file, written_, bytes, count)) return StoppedAt(Step::WriteOutput);
    written_ += count;
    return DoneOutcome();
  }

  Outcome Start(FolderEntryKind kind, uint32_t index) {
    return Write(scan_.entries, StoreFolderEntryStart(scan_.entries, kind, listing_.Path(index)));
  }

  Outcome WriteSkipped(uint32_t index, SkipReason reason) {
    uint32_t bytes = StoreFolderEntryStart(scan_.entries, FolderEntryKind::Skipped, listing_.Path(index));
    scan_.entries[bytes++] = static_cast<uint8_t>(reason);
    return Write(scan_.entries, bytes);
  }

  // A file that cannot be described: recorded and told as skipped, with the step and the
  // system's error; whatever of its record was written is written over.
  Outcome Unreadable(uint32_t index, uint64_t recordStart, Step step, uint32_t error) {
    result_.entries.push_back(UnreadableReport(listing_.Path(index), step, error));
    if (scan_.file != nullptr) CloseFile(scan_.file);
    scan_.file = nullptr;
    written_ = recordStart;
    return WriteSkipped(index, result_.entries.back().skip == EntrySkip::Link ? SkipReason::Link : SkipReason::Unreadable);
  }

  Outcome File(uint32_t index) {
    const uint64_t recordStart = written_;
    uint64_t size;
    Step failed;
    scan_.file = OpenListedFile(cursor_, listing_, index, ListedFileSteps{Step::OpenBroken, Step::SizeBroken}, &size, &failed);
    if (scan_.file == nullptr) return Unreadable(index, recordStart, failed, LastSystemError());

    // The size and fingerprint are known at the end; their place is kept until then.
    uint32_t start = StoreFolderEntryStart(scan_.entries, FolderEntryKind::File, listing_.Path(index));
    const uint64_t fieldsAt = recordStart + start;
    start += StoreFolderFileFields(scan_.entries + start, size, Hash128{});
    Outcome wrote = Write(scan_.entries, start);
    if (wrote.ending != Ending::Done) return wrote;

    Fingerprinter fingerprint(size, scan_.regions);
    Checksums checksums(*this, fingerprint);
    wrote = pipeline_.Run(checksums, size, progress_);
    if (wrote.ending == Ending::Stopped && wrote.step == Step::ReadBroken) {
      return Unreadable(index, recordStart, Step::ReadBroken, wrote.systemError);
    }
    if (wrote.ending != Ending::Done) return wrote;
    CloseFile(scan_.file);
    scan_.file = nullptr;
    if (listing_.entries[index].fetchedWhenRead) ++result_.fetched;

    if (StoredRegionCount(size) != 0) {
      for (uint64_t r = 0; r < fingerprint.RegionCount(); ++r) {
        StoreHash128(scan_.entries, fingerprint.Regions()[r]);
        if ((wrote = Write(scan_.entries, kHash128Bytes)).ending != Ending::Done) return wrote;
      }
    }
    StoreFolderFileFields(scan_.entries, size, fingerprint.Whole());
    if (!WriteAt(scan_.output.file, fieldsAt, scan_.entries, 8 + kHash128Bytes)) return StoppedAt(Step::WriteOutput);
    ++result_.files;
    return DoneOutcome();
  }

  BrokenFolderScan& scan_;
  const TreeListing& listing_;
  Pipeline& pipeline_;
  Progress& progress_;
  TreeOutcome& result_;
  FolderCursor cursor_;
  uint64_t count_ = 0;
  uint64_t written_ = kFolderFileHeaderBytes;
};

Outcome Scan(BrokenFolderScan& scan, const char* brokenFolderPath, const char* outputFolder, const StreamControl& control,
             TreeOutcome& result) {
  scan.top = OpenFolder(brokenFolderPath);
  if (scan.top == nullptr) return StoppedAt(Step::OpenBrokenFolder);
  TreeListing listing;
  Outcome listed = ListTree(scan.top, Step::ListFolder, control, &listing, &result.entries);
  if (listed.ending != Ending::Done) return listed;

  if (!AcquireSlices(&scan.ring)) return StoppedAt(Step::AllocateBroken);
  scan.entries = static_cast<uint8_t*>(CommitMemory(4 * kStreamBufferBlocks + kRecordRoom));
  if (scan.entries == nullptr) return StoppedAt(Step::AllocateTestFileBuffer);
  scan.regions = static_cast<Hash128*>(CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions)));
  if (scan.regions == nullptr) return StoppedAt(Step::AllocateFingerprint);
  if (!CreateFolderOutput(&scan.output, outputFolder, brokenFolderPath, ".crc")) return StoppedAt(Step::CreateOutput);

  // The header is written again with the number of entries once it is known. A Linux tree
  // that ignores case (a memory stick, a share) has Windows' names too.
  const uint32_t flags = FileSystemNameLimits().windowsNames || listing.ignoresCase ? kFolderFlagWindowsNames : 0;
  if (!WriteAt(scan.output.file, 0, scan.entries, StoreFolderTestHeader(scan.entries, flags, 0))) {
    return StoppedAt(Step::WriteOutput);
  }
  Progress progress(control, listing.fileBytes);
  Pipeline pipeline(scan.ring);
  Writer writer(scan, listing, pipeline, progress, result);
  Outcome wrote = writer.Entries();
  if (wrote.ending != Ending::Done) return wrote;
  if (!WriteAt(scan.output.file, 0, scan.entries, StoreFolderTestHeader(scan.entries, flags, writer.count()))) {
    return StoppedAt(Step::WriteOutput);
  }
  // A record written over by a shorter one may have left bytes behind the last.
  if (!SetFileLength(scan.output.file, writer.written())) return StoppedAt(Step::WriteOutput);
  Outcome done = FinishOutput(&scan.output);
  if (done.ending != Ending::Done) return done;
  done.outputBytes = writer.written();
  return done;
}

}  // namespace

TreeOutcome ScanBrokenFolder(const char* brokenFolderPath, const char* outputFolder, const StreamControl& control) {
  BrokenFolderScan scan;
  TreeOutcome result;
  const HeldFileWaits waits(control.stop);
  try {
    result.outcome = Scan(scan, brokenFolderPath, outputFolder, control, result);
  } catch (const std::bad_alloc&) {
    result.outcome = StoppedOutcome(Step::AllocateListing, SystemErrorCode(SystemErrorKind::NotEnoughMemory));
  }
  Release(scan);
  return result;
}
