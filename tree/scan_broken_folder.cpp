// The folder test file: the tree is listed first (for the total the progress needs, and one
// order for everything), then each file is read once: a small one whole by the readers, side by
// side with others, which take its checksums and fingerprint (tree/read_ahead.h), a large one
// in slices while the working thread takes them (stream/pipeline.h); its record is written as
// it goes, in the listing's order. A file that cannot be opened or read is recorded as skipped
// instead, never left out.
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

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
#include "tree/read_ahead.h"

namespace {

// Room for one record's start and file fields behind the checksums of a slice.
constexpr uint32_t kRecordRoom = 3 + kLongestFolderPath + 8 + kHash128Bytes;

// What one call holds, released as it goes; the waits first, which the folder keeps.
struct BrokenFolderScan {
  explicit BrokenFolderScan(const std::atomic<bool>* stop) : waits(stop) {}
  HeldFileWaits waits;
  FolderHandle top;
  SliceRing ring;
  Memory entries;
  Memory regions;  // room for the region hashes of the file under way
  OutputFile output;
};

// What a reader makes of a small file: its checksums and fingerprint, as the working thread
// would.
class ReadAheadChecksums final : public ReadAheadWork {
 public:
  void Work(ReadAheadFile& file) override {
    Hash128 region;
    Fingerprinter fingerprint(file.size, &region);
    if (file.size != 0) fingerprint.AddBlocks(file.bytes, file.size, file.checksums);
    file.whole = fingerprint.Whole();
  }
};

class Writer {
 public:
  Writer(BrokenFolderScan& scan, const TreeListing& listing, ReadAhead& files, Pipeline& pipeline, Progress& progress,
         TreeOutcome& result)
      : scan_(scan), listing_(listing), files_(files), pipeline_(pipeline), progress_(progress), result_(result) {}

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
    files_.Close();
    Outcome flushed = Flush();
    if (flushed.ending != Ending::Done) return flushed;
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
    Checksums(Writer& writer, const ::File& file, Fingerprinter& fingerprint)
        : writer_(writer), file_(file), fingerprint_(fingerprint) {}
    Outcome Fill(Slice& slice) override {
      if (const SystemError failed = ReadPadded(file_, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
        return Stopped(Step::ReadBroken, failed);
      }
      return DoneOutcome();
    }
    void Work(Slice& slice) override { fingerprint_.AddBlocks(slice.bytes, slice.count, slice.checksums); }
    Outcome Collect(Slice& slice) override {
      uint8_t* entries = writer_.scan_.entries.bytes();
      for (uint32_t i = 0; i < slice.blocks; ++i) StoreU32LE(entries + 4 * i, slice.checksums[i]);
      return writer_.Write(entries, 4 * slice.blocks);
    }

   private:
    Writer& writer_;
    const ::File& file_;
    Fingerprinter& fingerprint_;
  };

  Outcome Write(const uint8_t* bytes, uint32_t count) {
    Outcome flushed = Flush();
    if (flushed.ending != Ending::Done) return flushed;
    if (const SystemError failed = WriteAt(scan_.output.file, written_, bytes, count)) return Stopped(Step::WriteOutput, failed);
    written_ += count;
    return DoneOutcome();
  }

  // The records of files read ahead, gathered for one write of many: a write per small file
  // would be most of the system's work on this thread.
  Outcome Gather(const uint8_t* bytes, uint32_t count) {
    if (pending_.empty()) pending_.reserve(kGathered + kRecordRoom + 4 * kReadAheadBlocks);
    pending_.insert(pending_.end(), bytes, bytes + count);
    written_ += count;
    return pending_.size() >= kGathered ? Flush() : DoneOutcome();
  }
  Outcome Flush() {
    if (pending_.empty()) return DoneOutcome();
    const uint64_t at = written_ - pending_.size();
    const SystemError failed = WriteAt(scan_.output.file, at, pending_.data(), static_cast<uint32_t>(pending_.size()));
    pending_.clear();
    return failed ? Stopped(Step::WriteOutput, failed) : DoneOutcome();
  }

  Outcome Start(FolderEntryKind kind, uint32_t index) {
    uint8_t* record = scan_.entries.bytes();
    return Write(record, StoreFolderEntryStart(record, kind, listing_.Path(index)));
  }

  Outcome WriteSkipped(uint32_t index, SkipReason reason) {
    uint8_t* record = scan_.entries.bytes();
    uint32_t bytes = StoreFolderEntryStart(record, FolderEntryKind::Skipped, listing_.Path(index));
    record[bytes++] = static_cast<uint8_t>(reason);
    return Write(record, bytes);
  }

  // A file that cannot be described: recorded and told as skipped, with the step and the
  // system's error; whatever of its record was written is written over.
  Outcome Unreadable(uint32_t index, uint64_t recordStart, Step step, SystemError failed) {
    result_.entries.push_back(UnreadableReport(listing_.Path(index), step, failed));
    written_ = recordStart;
    return WriteSkipped(index, result_.entries.back().skip == EntrySkip::Link ? SkipReason::Link : SkipReason::Unreadable);
  }

  // A file read whole by a reader: its record in one piece.
  Outcome ReadAheadRecord(const ReadAheadFile& read) {
    uint8_t* record = scan_.entries.bytes();
    uint32_t bytes = StoreFolderEntryStart(record, FolderEntryKind::File, listing_.Path(read.index));
    bytes += StoreFolderFileFields(record + bytes, read.size, read.whole);
    const uint64_t blocks = BlockCount64(read.size);
    for (uint64_t i = 0; i < blocks; ++i) StoreU32LE(record + bytes + 4 * i, read.checksums[i]);
    Outcome wrote = Gather(record, bytes + static_cast<uint32_t>(4 * blocks));
    if (wrote.ending != Ending::Done) return wrote;
    progress_.Advance(read.size);
    if (listing_.entries[read.index].fetchedWhenRead) ++result_.fetched;
    ++result_.files;
    return DoneOutcome();
  }

  Outcome File(uint32_t index) {
    const uint64_t recordStart = written_;
    uint8_t* record = scan_.entries.bytes();
    ReadAheadFile& read = files_.Next();
    if (read.failed) return Unreadable(index, recordStart, read.failedAt, read.failed);
    if (read.bytes != nullptr) return ReadAheadRecord(read);
    ::File& file = read.file;
    const uint64_t size = read.size;

    // The size and fingerprint are known at the end; their place is kept until then.
    uint32_t start = StoreFolderEntryStart(record, FolderEntryKind::File, listing_.Path(index));
    const uint64_t fieldsAt = recordStart + start;
    start += StoreFolderFileFields(record + start, size, Hash128{});
    Outcome wrote = Write(record, start);
    if (wrote.ending != Ending::Done) return wrote;

    Fingerprinter fingerprint(size, scan_.regions.As<Hash128>());
    Checksums checksums(*this, file, fingerprint);
    wrote = pipeline_.Run(checksums, size, progress_);
    if (wrote.ending == Ending::Stopped && wrote.step == Step::ReadBroken) {
      return Unreadable(index, recordStart, Step::ReadBroken, FailureOf(wrote));
    }
    if (wrote.ending != Ending::Done) return wrote;
    file = ::File();
    if (listing_.entries[index].fetchedWhenRead) ++result_.fetched;

    if (StoredRegionCount(size) != 0) {
      for (uint64_t r = 0; r < fingerprint.RegionCount(); ++r) {
        StoreHash128(record, fingerprint.Regions()[r]);
        if ((wrote = Write(record, kHash128Bytes)).ending != Ending::Done) return wrote;
      }
    }
    StoreFolderFileFields(record, size, fingerprint.Whole());
    if (const SystemError failed = WriteAt(scan_.output.file, fieldsAt, record, 8 + kHash128Bytes)) {
      return Stopped(Step::WriteOutput, failed);
    }
    ++result_.files;
    return DoneOutcome();
  }

  BrokenFolderScan& scan_;
  const TreeListing& listing_;
  ReadAhead& files_;
  Pipeline& pipeline_;
  Progress& progress_;
  TreeOutcome& result_;
  uint64_t count_ = 0;
  uint64_t written_ = kFolderFileHeaderBytes;
  static constexpr uint32_t kGathered = 256 * 1024;
  std::vector<uint8_t> pending_;  // the last pending_.size() bytes before written_
};

Outcome Scan(BrokenFolderScan& scan, const char* brokenFolderPath, const char* outputFolder, const StreamControl& control,
             TreeOutcome& result) {
  if (const SystemError failed = OpenFolder(brokenFolderPath, &scan.waits, &scan.top)) {
    return Stopped(Step::OpenBrokenFolder, failed);
  }
  TreeListing listing;
  Outcome listed = ListTree(scan.top, Step::ListFolder, control, &listing, &result.entries);
  if (listed.ending != Ending::Done) return listed;

  if (const SystemError failed = AcquireSlices(&scan.ring)) return Stopped(Step::AllocateBroken, failed);
  if (const SystemError failed = CommitMemory(4 * kStreamBufferBlocks + kRecordRoom, &scan.entries)) {
    return Stopped(Step::AllocateTestFileBuffer, failed);
  }
  if (const SystemError failed = CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions), &scan.regions)) {
    return Stopped(Step::AllocateFingerprint, failed);
  }
  if (const SystemError failed = CreateFolderOutput(&scan.output, outputFolder, brokenFolderPath, ".crc", &scan.waits)) {
    return Stopped(Step::CreateOutput, failed);
  }

  // The header is written again with the number of entries once it is known. A Linux tree
  // that ignores case (a memory stick, a share) has Windows' names too.
  uint8_t* header = scan.entries.bytes();
  const uint32_t flags = FileSystemNameLimits().windowsNames || listing.ignoresCase ? kFolderFlagWindowsNames : 0;
  if (const SystemError failed = WriteAt(scan.output.file, 0, header, StoreFolderTestHeader(header, flags, 0))) {
    return Stopped(Step::WriteOutput, failed);
  }
  std::vector<uint32_t> files;
  for (uint32_t i = 0; i < listing.entries.size(); ++i) {
    if (listing.entries[i].kind == FolderEntryKind::File) files.push_back(i);
  }
  ReadAheadChecksums checksums;
  ReadAhead readAhead(scan.top, listing, std::move(files),
                      ReadAheadSteps{Step::OpenBroken, Step::SizeBroken, Step::ReadBroken, Step::AllocateBroken}, &checksums,
                      control);
  Outcome started = readAhead.Start();
  if (started.ending != Ending::Done) return started;
  Progress progress(control, listing.fileBytes);
  Pipeline pipeline(scan.ring);
  Writer writer(scan, listing, readAhead, pipeline, progress, result);
  Outcome wrote = writer.Entries();
  if (wrote.ending != Ending::Done) return wrote;
  if (const SystemError failed = WriteAt(scan.output.file, 0, header, StoreFolderTestHeader(header, flags, writer.count()))) {
    return Stopped(Step::WriteOutput, failed);
  }
  // A record written over by a shorter one may have left bytes behind the last.
  if (const SystemError failed = SetFileLength(scan.output.file, writer.written())) return Stopped(Step::WriteOutput, failed);
  Outcome done = FinishOutput(&scan.output);
  if (done.ending != Ending::Done) return done;
  done.outputBytes = writer.written();
  return done;
}

}  // namespace

TreeOutcome ScanBrokenFolder(const char* brokenFolderPath, const char* outputFolder, const StreamControl& control) {
  BrokenFolderScan scan(control.stop);
  TreeOutcome result;
  try {
    result.outcome = Scan(scan, brokenFolderPath, outputFolder, control, result);
  } catch (const std::bad_alloc&) {
    result.outcome = Stopped(Step::AllocateListing, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return result;
}
