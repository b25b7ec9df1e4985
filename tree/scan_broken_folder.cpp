// The folder test file: the tree is listed first (for the total the progress needs, and one
// order for everything), then each file is read once: a small one whole by the readers, side by
// side with others, which take its checksums and fingerprint (tree/read_ahead.h), a large one
// in slices while the working thread takes them (stream/pipeline.h); its record is written as
// it goes, in the listing's order. A file that cannot be opened or read is recorded as skipped
// instead, never left out. The compact form (core/compact_folder_file.h) takes the same reads:
// each entry's elements go into its sketch instead, and the file is written whole at the end.
#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/fingerprint.h"
#include "core/compact_folder_file.h"
#include "core/compact_test_file.h"
#include "core/folder_test_file.h"
#include "stream/test_file_writing.h"
#include "stream/origin_check.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "tree/folder_cursor.h"
#include "tree/folder_sketch.h"
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

// plain: the records of the plain form are written; sketch: each entry's elements go into it.
class Writer {
 public:
  Writer(BrokenFolderScan& scan, const TreeListing& listing, ReadAhead& files, Pipeline& pipeline, Progress& progress,
         TreeOutcome& result, bool plain, SketchBatch* sketch)
      : scan_(scan), listing_(listing), files_(files), pipeline_(pipeline), progress_(progress), result_(result),
        plain_(plain), sketch_(sketch) {}

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
          Sketched(i, EntryValue{static_cast<uint8_t>(FolderEntryKind::Folder)}, nullptr, nullptr, 0);
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
    Checksums(Writer& writer, const ::File& file, Fingerprinter& fingerprint, std::vector<uint32_t>* gathered)
        : writer_(writer), file_(file), fingerprint_(fingerprint), gathered_(gathered) {}
    Outcome Fill(Slice& slice) override {
      if (const SystemError failed = ReadPadded(file_, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
        return Stopped(Step::ReadBroken, failed);
      }
      return DoneOutcome();
    }
    void Work(Slice& slice) override { fingerprint_.AddBlocks(slice.bytes, slice.count, slice.checksums); }
    Outcome Collect(Slice& slice) override {
      if (gathered_ != nullptr) {
        try {
          gathered_->insert(gathered_->end(), slice.checksums, slice.checksums + slice.blocks);
        } catch (const std::bad_alloc&) {
          return Stopped(Step::AllocateTestFileBuffer, ErrorOf(SystemErrorKind::NotEnoughMemory));
        }
      }
      uint8_t* entries = writer_.scan_.entries.bytes();
      for (uint32_t i = 0; i < slice.blocks; ++i) StoreU32LE(entries + 4 * i, slice.checksums[i]);
      return writer_.Write(entries, 4 * slice.blocks);
    }

   private:
    Writer& writer_;
    const ::File& file_;
    Fingerprinter& fingerprint_;
    std::vector<uint32_t>* gathered_;
  };

  // The entry's elements, when there is a sketch.
  void Sketched(uint32_t index, const EntryValue& value, const Hash128* fingerprint, const Hash128* regions,
                uint64_t regionCount) {
    if (sketch_ == nullptr) return;
    pathHash_ = FoldedPathHash(listing_.Path(index));
    SketchEntry(*sketch_, pathHash_, listing_.Name(index), value, fingerprint, regions, regionCount);
  }

  Outcome Write(const uint8_t* bytes, uint32_t count) {
    if (!plain_) {
      written_ += count;
      return DoneOutcome();
    }
    Outcome flushed = Flush();
    if (flushed.ending != Ending::Done) return flushed;
    if (const SystemError failed = WriteAt(scan_.output.file, written_, bytes, count)) return Stopped(Step::WriteOutput, failed);
    written_ += count;
    return DoneOutcome();
  }

  // The records of files read ahead, gathered for one write of many: a write per small file
  // would be most of the system's work on this thread.
  Outcome Gather(const uint8_t* bytes, uint32_t count) {
    if (!plain_) return Write(bytes, count);
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
    Sketched(index, EntryValue{static_cast<uint8_t>(FolderEntryKind::Skipped), static_cast<uint8_t>(reason)}, nullptr,
             nullptr, 0);
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
    // A file read ahead has one region: no region fingerprints of its own.
    Sketched(read.index, EntryValue{static_cast<uint8_t>(FolderEntryKind::File), 0, read.size}, &read.whole, nullptr, 0);
    if (sketch_ != nullptr) SketchBlocks(*sketch_, pathHash_, read.checksums, blocks);
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
    std::vector<uint32_t> gathered;
    Checksums checksums(*this, file, fingerprint, sketch_ != nullptr ? &gathered : nullptr);
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
    if (plain_) {
      if (const SystemError failed = WriteAt(scan_.output.file, fieldsAt, record, 8 + kHash128Bytes)) {
        return Stopped(Step::WriteOutput, failed);
      }
    }
    const Hash128 whole = fingerprint.Whole();
    Sketched(index, EntryValue{static_cast<uint8_t>(FolderEntryKind::File), 0, size}, &whole, fingerprint.Regions(),
             StoredRegionCount(size) != 0 ? fingerprint.RegionCount() : 0);
    if (sketch_ != nullptr) SketchBlocks(*sketch_, pathHash_, gathered.data(), gathered.size());
    ++result_.files;
    return DoneOutcome();
  }

  BrokenFolderScan& scan_;
  const TreeListing& listing_;
  ReadAhead& files_;
  Pipeline& pipeline_;
  Progress& progress_;
  TreeOutcome& result_;
  bool plain_;
  SketchBatch* sketch_;
  uint64_t pathHash_ = 0;  // the entry under way's
  uint64_t count_ = 0;
  uint64_t written_ = kFolderFileHeaderBytes;
  static constexpr uint32_t kGathered = 256 * 1024;
  std::vector<uint8_t> pending_;  // the last pending_.size() bytes before written_
};

// The compact form's symbols for a folder whose plain test file is plainLength bytes, or 0 for
// the plain form, as for a single file.
uint32_t ChosenFolderSymbols(uint64_t plainLength, const TestFileChoice& choice) {
  return ChooseSymbols(plainLength, choice, &CompactFolderSymbolsForBudget, DefaultCompactFolderSymbols(plainLength),
                       &CompactFolderLength);
}

uint32_t SymbolsOfLength(uint64_t length) {
  return static_cast<uint32_t>((length - CompactFolderLength(0)) / kCompactSymbolBytes);
}

// Writes bytes into the output from its start, a buffer's worth at a time.
Outcome WriteWhole(const OutputFile& output, const std::vector<uint8_t>& bytes) {
  for (uint64_t at = 0; at < bytes.size(); at += kStreamBufferBytes) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(bytes.size() - at, kStreamBufferBytes));
    if (const SystemError failed = WriteAt(output.file, at, bytes.data() + at, count)) return Stopped(Step::WriteOutput, failed);
  }
  return DoneOutcome();
}

// Whether the sketch's first symbols make the compact test file the request answers, byte for
// byte: the folder is the one scanned then, unchanged.
bool GivesAnswered(const Sketch& sketch, const CompactFolderHeader& header, const AskingRepairFile& asked) {
  const uint32_t symbols = SymbolsOfLength(asked.answeredLength);
  if (symbols > sketch.SymbolCount() || header.plainLength != asked.brokenSize) return false;
  Sketch prefix(symbols);
  prefix.Cells() = sketch.Cells();
  std::copy(sketch.Symbols().begin(), sketch.Symbols().begin() + symbols, prefix.Symbols().begin());
  const std::vector<uint8_t> bytes = StoreCompactFolderTestFile(CompactFolderHeader{header.flags, header.plainLength, symbols}, prefix);
  return bytes.size() == asked.answeredLength && LoadHash128(bytes.data() + bytes.size() - kHash128Bytes) == asked.answeredCheck;
}

// choice: how the scan-broken command chooses the form; asked: a request to answer instead,
// whose answered file the same read makes again.
Outcome Scan(BrokenFolderScan& scan, const char* brokenFolderPath, const char* outputFolder, const StreamControl& control,
             TreeOutcome& result, const TestFileChoice& choice, const AskingRepairFile* asked) {
  if (const SystemError failed = OpenFolder(brokenFolderPath, &scan.waits, &scan.top)) {
    return Stopped(Step::OpenBrokenFolder, failed);
  }
  TreeListing listing;
  Outcome listed = ListTree(scan.top, Step::ListFolder, control, &listing, &result.entries);
  if (listed.ending != Ending::Done) return listed;

  // A Linux tree that ignores case (a memory stick, a share) has Windows' names too.
  const uint32_t flags = FileSystemNameLimits().windowsNames || listing.ignoresCase ? kFolderFlagWindowsNames : 0;
  const uint64_t plainLength = PlainFolderTestFileLength(listing);
  uint32_t symbols = 0;
  bool plain = true;
  if (asked != nullptr) {
    plain = asked->askedLength == asked->brokenSize;
    symbols = SymbolsOfLength(plain ? asked->answeredLength : asked->askedLength);
  } else {
    symbols = ChosenFolderSymbols(plainLength, choice);
    if (symbols != 0 && KeysClash(ListingEntryKeys(listing))) symbols = 0;
    plain = symbols == 0;
  }
  std::optional<Sketch> sketch;
  if (symbols != 0) {
    try {
      sketch.emplace(symbols);
    } catch (const std::bad_alloc&) {
      return Stopped(Step::AllocateTestFileBuffer, ErrorOf(SystemErrorKind::NotEnoughMemory));
    }
  }

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

  // The header is written again with the number of entries once it is known.
  uint8_t* header = scan.entries.bytes();
  if (plain) {
    if (const SystemError failed = WriteAt(scan.output.file, 0, header, StoreFolderTestHeader(header, flags, 0))) {
      return Stopped(Step::WriteOutput, failed);
    }
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
  std::optional<SketchBatch> batch;
  if (sketch) batch.emplace(*sketch, false);
  Writer writer(scan, listing, readAhead, pipeline, progress, result, plain, batch ? &*batch : nullptr);
  Outcome wrote = writer.Entries();
  if (wrote.ending != Ending::Done) return wrote;
  if (batch) batch->Flush();
  const CompactFolderHeader compact{flags, plainLength, symbols};
  if (asked != nullptr && !GivesAnswered(*sketch, compact, *asked)) {
    CheckRefusal why;
    why.finding = CheckFinding::TestFileDiffers;
    return OtherFileOutcome(why);
  }
  uint64_t length = writer.written();
  if (plain) {
    if (const SystemError failed = WriteAt(scan.output.file, 0, header, StoreFolderTestHeader(header, flags, writer.count()))) {
      return Stopped(Step::WriteOutput, failed);
    }
    // A record written over by a shorter one may have left bytes behind the last.
    if (const SystemError failed = SetFileLength(scan.output.file, length)) return Stopped(Step::WriteOutput, failed);
  } else {
    const std::vector<uint8_t> bytes = StoreCompactFolderTestFile(compact, *sketch);
    if ((wrote = WriteWhole(scan.output, bytes)).ending != Ending::Done) return wrote;
    length = bytes.size();
  }
  Outcome done = FinishOutput(&scan.output);
  if (done.ending != Ending::Done) return done;
  done.outputBytes = length;
  if (asked != nullptr) done.ending = Ending::MoreNeeded;
  return done;
}

// The scan with its own resources, released however it ends; the heap's refusal anywhere in it
// is a stop at the listing's memory.
TreeOutcome RunScan(const char* brokenFolderPath, const char* outputFolder, const StreamControl& control,
                    const TestFileChoice& choice, const AskingRepairFile* asked) {
  BrokenFolderScan scan(control.stop);
  TreeOutcome result;
  try {
    result.outcome = Scan(scan, brokenFolderPath, outputFolder, control, result, choice, asked);
  } catch (const std::bad_alloc&) {
    result.outcome = Stopped(Step::AllocateListing, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return result;
}

}  // namespace

TreeOutcome ScanBrokenFolder(const char* brokenFolderPath, const char* outputFolder, const StreamControl& control,
                             const TestFileChoice& choice) {
  return RunScan(brokenFolderPath, outputFolder, control, choice, nullptr);
}

TreeOutcome AnswerFolderRequest(const char* brokenFolderPath, const AskingRepairFile& asked, const char* outputFolder,
                                const StreamControl& control) {
  return RunScan(brokenFolderPath, outputFolder, control, TestFileChoice{}, &asked);
}
