// The folder repair file. The valid folder is listed and matched with the test file's
// entries (tree/match_plan.h), which decides, before any file is read, which entries are
// extra, missing, renamed or to be compared. Then the records are written: the extra entries
// first (so that a repair that deletes them clears the way), then the valid folder's entries
// in its order, each folder before what it holds. A file is compared as a single file is
// (stream/travelling_blocks.h): read once beside the working thread that takes its checksums
// and fingerprints, then the blocks that must travel read again to be written. Small files are
// read ahead, side by side, by the readers of tree/read_ahead.h, and taken in the same order.
//
// A compact folder test file (core/compact_folder_file.h) is answered in two passes: every file
// is read once (read ahead as above) and its elements taken out of the sketch, whose rest
// decodes into what differs; from that the broken folder's index is made
// (tree/sketched_index.h) and matched as a plain one, and only the files that differ are read
// again. Entries only the broken folder has are named by key (keyed extra, keyed rename), which
// its repair resolves in its own listing.
#include <algorithm>
#include <cstring>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/block.h"
#include "core/compact_folder_file.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/folder_follow_up.h"
#include "core/folder_repair_file.h"
#include "core/fingerprint_part.h"
#include "core/repair_origin.h"
#include "core/folder_test_file.h"
#include "stream/compact_answer.h"
#include "stream/origin_record.h"
#include "stream/output_file.h"
#include "stream/pipeline.h"
#include "stream/steps.h"
#include "support/output_path.h"
#include "support/path_buffer.h"
#include "stream/travelling_blocks.h"
#include "tree/file_reader.h"
#include "tree/folder_cursor.h"
#include "tree/folder_file.h"
#include "tree/folder_sketch.h"
#include "tree/listed_file.h"
#include "tree/listing.h"
#include "tree/match_plan.h"
#include "tree/names.h"
#include "tree/operations.h"
#include "tree/read_ahead.h"
#include "tree/sketched_index.h"
#include "tree/test_index.h"

namespace {

// Room for a record's start and its fields: a file's size, fingerprint and block count, or a
// rename's old name, which is no longer than a path.
constexpr uint32_t kRecordRoom =
    3 + kLongestFolderPath + std::max<uint32_t>(8 + kHash128Bytes + kFolderFileStampBytes + kOriginFieldBytes, 2 + kLongestFolderPath);

// What one call holds, released as it goes; the waits first, which the files keep.
struct ValidFolderScan {
  explicit ValidFolderScan(const std::atomic<bool>* stop) : waits(stop) {}
  HeldFileWaits waits;
  FolderHandle top;
  FolderFile testFile;
  SliceRing ring;
  Memory record;
  Memory regions;  // room for the region hashes of the file under way
  OutputFile output;
};

// Every block of each of the first regions that differs (differs(r)) where no block of it is
// damaged yet, the list kept ascending. Only regions of the same extent in both files count.
template <typename Differs>
void AddRegionBlocks(uint64_t regions, uint64_t regionSize, uint64_t size, uint64_t brokenSize, Differs differs,
                     std::vector<uint32_t>* damaged) {
  std::vector<uint32_t> added;
  for (uint64_t r = 0; r < regions; ++r) {
    const uint64_t start = r * regionSize;
    if (std::min<uint64_t>(start + regionSize, size) != std::min<uint64_t>(start + regionSize, brokenSize)) continue;
    if (!differs(r)) continue;
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
}

class Writer {
 public:
  // files: the valid files the records read, in their order (null when answering a follow-up).
  Writer(ValidFolderScan& scan, const TreeListing& listing, const TestIndex& index, ReadAhead* files, Pipeline& pipeline,
         Progress& progress, TreeOutcome& result, const char* validFolderPath, const char* outputFolder, bool prove)
      : scan_(scan), listing_(listing), index_(index), files_(files), pipeline_(pipeline), progress_(progress), result_(result),
        cursor_(scan.top), validFolderPath_(validFolderPath), outputFolder_(outputFolder), prove_(prove) {}

  // The broken folder told by a compact test file: its entries named by key, its files compared
  // against the decoded differences; equal: per valid entry, a file the sketch finds equal
  // (SketchedFileEqual), which is not read again unless a proof is asked for.
  void Sketched(const SketchedFolder* sketched, const std::vector<uint64_t>* pathHashes, const std::vector<bool>* equal) {
    sketched_ = sketched;
    pathHashes_ = pathHashes;
    equal_ = equal;
  }

  Outcome Record(const PlannedRecord& planned) {
    if (progress_.StopRequested()) return CancelledOutcome(false);
    if (sketched_ != nullptr) {
      switch (planned.action) {
        case FolderAction::ExtraFile:
        case FolderAction::ExtraFolder: return Keyed(FolderAction::KeyedExtra, std::string(), planned.broken);
        case FolderAction::Rename: return Keyed(FolderAction::KeyedRename, listing_.Path(planned.valid), planned.broken);
        case FolderAction::Patch:
        case FolderAction::CheckedPatch: return CompareSketched(planned.valid, planned.broken);
        default: break;
      }
    }
    switch (planned.action) {
      case FolderAction::KeyedExtra:
      case FolderAction::KeyedRename: break;  // made above
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
      case FolderAction::Patch:
      case FolderAction::CheckedPatch: return Compare(planned.valid, planned.broken);
      case FolderAction::WholeFile: return Whole(planned.valid);
      case FolderAction::SkippedThere: {
        uint8_t fields[2];
        StoreSkippedThereFields(fields, listing_.entries[planned.valid].kind, index_.entries[planned.broken].reason);
        return Start(planned.action, listing_.Path(planned.valid), fields, sizeof fields);
      }
    }
    return DoneOutcome();
  }

  // The header, with the number of records, once they are all written.
  Outcome Finish() {
    cursor_.Close();
    if (files_ != nullptr) files_->Close();
    if (count_ == 0) return DoneOutcome();
    uint8_t* header = scan_.record.bytes();
    if (const SystemError failed = WriteAt(scan_.output.file, 0, header, StoreFolderRepairHeader(header, count_))) {
      return Stopped(Step::WriteOutput, failed);
    }
    if (const SystemError failed = SetFileLength(scan_.output.file, written_)) return Stopped(Step::WriteOutput, failed);
    return FinishOutput(&scan_.output);
  }

  uint64_t count() const { return count_; }
  uint64_t written() const { return written_; }

 private:
  // A file carried whole: each slice fingerprinted on the working thread and written as read.
  class WholeFile final : public SliceJob {
   public:
    // bytes: the whole file read ahead, or null.
    WholeFile(Writer& writer, const File& file, const uint8_t* bytes, Fingerprinter& fingerprint)
        : writer_(writer), file_(file), bytes_(bytes), fingerprint_(fingerprint) {}
    Outcome Fill(Slice& slice) override {
      if (bytes_ != nullptr) {
        std::memcpy(slice.bytes, bytes_ + slice.offset, slice.count);
        return DoneOutcome();
      }
      if (const SystemError failed = ReadAt(file_, slice.offset, slice.bytes, slice.count)) {
        return Stopped(Step::ReadValid, failed);
      }
      return DoneOutcome();
    }
    void Work(Slice& slice) override { fingerprint_.Add(slice.bytes, slice.count); }
    Outcome Collect(Slice& slice) override { return writer_.Write(slice.bytes, slice.count); }

   private:
    Writer& writer_;
    const File& file_;
    const uint8_t* bytes_;
    Fingerprinter& fingerprint_;
  };

  static bool ValidFileFailed(const Outcome& outcome) {
    return outcome.ending == Ending::Stopped && outcome.step == Step::ReadValid;
  }

  Outcome Write(const uint8_t* bytes, uint32_t count) {
    if (const SystemError failed = WriteAt(scan_.output.file, written_, bytes, count)) return Stopped(Step::WriteOutput, failed);
    written_ += count;
    return DoneOutcome();
  }

  // A record's start and fields; the output is made with the first record, so that
  // identical folders write nothing at all.
  Outcome Start(FolderAction action, const std::string& path, const uint8_t* fields, uint32_t fieldBytes) {
    uint8_t* record = scan_.record.bytes();
    if (!scan_.output.file) {
      if (const SystemError failed = CreateFolderOutput(&scan_.output, outputFolder_, validFolderPath_, ".fix", &scan_.waits)) {
        return Stopped(Step::CreateOutput, failed);
      }
      if (const SystemError failed = WriteAt(scan_.output.file, 0, record, StoreFolderRepairHeader(record, 0))) {
        return Stopped(Step::WriteOutput, failed);
      }
    }
    uint32_t bytes = StoreFolderRecordStart(record, action, path);
    std::copy(fields, fields + fieldBytes, record + bytes);
    ++count_;
    return Write(record, bytes + fieldBytes);
  }

  // The valid file's own failures leave it out of the repair file, told as skipped.
  Outcome Unreadable(uint32_t v, Step step, SystemError failed, uint64_t recordStart, bool recordStarted) {
    return Unreadable(listing_.Path(v), step, failed, recordStart, recordStarted);
  }
  Outcome Unreadable(const std::string& path, Step step, SystemError failed, uint64_t recordStart, bool recordStarted) {
    result_.entries.push_back(UnreadableReport(path, step, failed));
    if (recordStarted) {
      written_ = recordStart;
      --count_;
    }
    return DoneOutcome();
  }

  // The valid file v as the readers hand it over; null when it cannot be had (told as skipped;
  // one that opened but could not be read is counted as compared when compared is set, as a
  // file is once open).
  ReadAheadFile* Take(uint32_t v, bool compared) {
    ReadAheadFile& read = files_->Next();
    if (!read.failed) return &read;
    if (compared && read.failedAt == Step::ReadValid) ++result_.files;
    Unreadable(v, read.failedAt, read.failed, 0, false);
    return nullptr;
  }

  Outcome Whole(uint32_t v) {
    const ReadAheadFile* read = Take(v, false);
    if (read == nullptr) return DoneOutcome();
    return WholeOf(read->file, listing_.Path(v), read->size, listing_.entries[v].fetchedWhenRead, read->bytes);
  }

  // The open file, carried whole; fetched: a cloud file, counted once read; bytes: the whole
  // file read ahead, or null.
  Outcome WholeOf(const File& file, const std::string& path, uint64_t size, bool fetched = false,
                  const uint8_t* bytes = nullptr) {
    const uint64_t recordStart = written_;
    FileStamp stamp;
    if (const SystemError failed = GetFileStamp(file, &stamp)) return Unreadable(path, Step::ReadValidStamp, failed, 0, false);
    uint8_t fields[8 + kHash128Bytes + kFolderFileStampBytes];
    StoreFolderFileFields(fields, size, Hash128{});
    StoreFolderFileStamp(fields + 8 + kHash128Bytes, stamp);
    Outcome wrote = Start(FolderAction::WholeFile, path, fields, sizeof fields);
    if (wrote.ending != Ending::Done) return wrote;
    const uint64_t fieldsAt = written_ - sizeof fields;
    Fingerprinter fingerprint(size, scan_.regions.As<Hash128>());
    WholeFile job(*this, file, bytes, fingerprint);
    wrote = pipeline_.Run(job, size, progress_);
    if (ValidFileFailed(wrote)) return Unreadable(path, Step::ReadValid, FailureOf(wrote), recordStart, true);
    if (wrote.ending != Ending::Done) return wrote;
    if (fetched) ++result_.fetched;
    StoreFolderFileFields(fields, size, fingerprint.Whole());
    if (const SystemError failed = WriteAt(scan_.output.file, fieldsAt, fields, 8 + kHash128Bytes)) {
      return Stopped(Step::WriteOutput, failed);
    }
    EntryReport report;
    report.path = path;
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
      if (const SystemError failed = ReadAt(scan_.testFile.file, broken.regionsAt + kHash128Bytes * r, bytes, sizeof bytes)) {
        return Stopped(Step::ReadTest, failed);
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
    AddRegionBlocks(std::min<uint64_t>(fingerprint.RegionCount(), brokenRegions.size()), regionSize, size, broken.size,
                    [&](uint64_t r) { return validRegions[r] != brokenRegions[r]; }, damaged);
    return DoneOutcome();
  }

  // A checked patch's values and samples, and the valid file's region fingerprints when it has
  // two regions or more, written at *at.
  Outcome WriteRecordAndRegions(const OriginRecord& record, const Fingerprinter& fingerprint, uint8_t* buffer, uint64_t* at) {
    uint64_t filled = 0;
    const auto put = [&](const uint8_t* bytes, uint32_t count) {
      if (filled + count > kStreamBufferBytes) {
        if (const SystemError failed = WriteAt(scan_.output.file, *at, buffer, static_cast<uint32_t>(filled))) return failed;
        *at += filled;
        filled = 0;
      }
      std::copy(bytes, bytes + count, buffer + filled);
      filled += count;
      return SystemError{};
    };
    uint8_t field[kHash128Bytes];
    SystemError failed;
    for (const uint32_t value : record.values) {
      StoreU32LE(field, value);
      if (!failed) failed = put(field, 4);
    }
    if (!failed) failed = put(record.samples, kOriginSampleBytes * record.origin.samples);
    if (fingerprint.RegionCount() >= 2) {
      for (uint64_t r = 0; r < fingerprint.RegionCount(); ++r) {
        StoreHash128(field, fingerprint.Regions()[r]);
        if (!failed) failed = put(field, kHash128Bytes);
      }
    }
    if (!failed && filled > 0) failed = WriteAt(scan_.output.file, *at, buffer, static_cast<uint32_t>(filled));
    if (failed) return Stopped(Step::WriteOutput, failed);
    *at += filled;
    return DoneOutcome();
  }

  // A valid file whose name the broken folder has: read once beside its checksums in the test
  // file for every block that must travel and its fingerprints; those blocks read again to be
  // written.
  Outcome Compare(uint32_t v, uint32_t b) {
    const IndexedEntry& broken = index_.entries[b];
    ReadAheadFile* read = Take(v, true);
    if (read == nullptr) return DoneOutcome();
    File& file = read->file;
    const uint64_t size = read->size;
    ++result_.files;
    Exchange exchange;
    exchange.validSize = size;
    exchange.validBlocks = BlockCount64(size);
    exchange.recordedSize = broken.size;
    exchange.entries = BlockCount64(broken.size);
    Fingerprinter fingerprint(size, scan_.regions.As<Hash128>());
    std::vector<uint32_t> damaged;
    const TestEntries entries{&scan_.testFile.file, broken.checksumsAt, 4 * exchange.entries};
    TravellingBlocks pass(file, exchange, entries, nullptr, fingerprint, &damaged, Step::AllocateListing);
    if (read->bytes != nullptr) pass.ReadFrom(read->bytes);
    Outcome collected = pipeline_.Run(pass, size, progress_);
    if (ValidFileFailed(collected)) return Unreadable(v, Step::ReadValid, FailureOf(collected), 0, false);
    if (collected.ending != Ending::Done) return collected;
    if (listing_.entries[v].fetchedWhenRead) ++result_.fetched;
    const Hash128 whole = fingerprint.Whole();
    if (size == broken.size && whole == broken.fingerprint && damaged.empty()) {
      file = File();
      if (!prove_) return DoneOutcome();
      return Proof(v, size, whole);
    }
    Outcome added = AddDifferingRegions(broken, size, fingerprint, &damaged);
    if (added.ending != Ending::Done) return added;
    // The record of the broken file, which the repair checks before it writes to it.
    uint8_t* buffer = scan_.ring.slices[0].bytes;
    OriginRecord record;
    Outcome recorded =
        RecordFromTestFile(entries, broken.size, exchange.entries, size, damaged, buffer, Step::AllocateListing, &record);
    if (recorded.ending != Ending::Done) return recorded;

    return WritePatch(file, listing_.Path(v), size, fingerprint, damaged, record);
  }

 public:
  // A file a folder follow-up names: the blocks of its listed regions whose XXH3-64 differs
  // from the follow-up's, as a checked patch whose record is the follow-up's hashes; a file
  // asked for whole, or whose size is no longer the one the follow-up has, whole.
  Outcome Answer(const FolderFollowUpEntry& entry, const NameRules& rules) {
    if (progress_.StopRequested()) return CancelledOutcome(false);
    TreePath path;
    const NameFault fault = ParseTreePath(entry.path, rules, &path);
    if (fault != NameFault::None) {
      EntryReport report;
      report.path = entry.path;
      report.skip = EntrySkip::BadName;
      report.nameFault = fault;
      result_.entries.push_back(std::move(report));
      return DoneOutcome();
    }
    const std::string name(path.components.back());
    path.components.pop_back();
    const FolderHandle* folder;
    File file;
    SystemError failed = cursor_.MoveTo(path.components, &folder);
    if (!failed) failed = OpenFileIn(*folder, name.c_str(), FileAccess::ReadOnly, &file);
    if (failed) return Unreadable(entry.path, Step::OpenValid, failed, 0, false);
    uint64_t size = 0;
    if ((failed = GetFileSize64(file, &size))) return Unreadable(entry.path, Step::SizeValid, failed, 0, false);
    ++result_.files;
    if (entry.regions.empty() || size != entry.size) return WholeOf(file, entry.path, size);

    Fingerprinter fingerprint(size, scan_.regions.As<Hash128>());
    std::vector<uint32_t> damaged;
    OriginRecord record;
    uint8_t* buffer = scan_.ring.slices[0].bytes;
    uint8_t expected[8 * kStreamBufferBlocks];
    size_t d = 0;  // the listed region under way
    for (uint64_t offset = 0; offset < size; offset += kStreamBufferBytes) {
      if (progress_.StopRequested()) return CancelledOutcome(false);
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size - offset, kStreamBufferBytes));
      const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
      if ((failed = ReadPadded(file, offset, buffer, count, blocks * kBlockSize))) {
        return Unreadable(entry.path, Step::ReadValid, failed, 0, false);
      }
      fingerprint.Add(buffer, count);
      progress_.Advance(count);
      // A slice lies inside one region: regions are whole numbers of slices.
      const uint64_t region = offset / entry.regionSize;
      while (d < entry.regions.size() && entry.regions[d].index < region) ++d;
      if (d == entry.regions.size() || entry.regions[d].index != region) continue;
      const uint64_t at = entry.regions[d].hashesAt + 8 * (offset % entry.regionSize / kBlockSize);
      if ((failed = ReadAt(scan_.testFile.file, at, expected, 8 * blocks))) return Stopped(Step::ReadTest, failed);
      for (uint32_t i = 0; i < blocks; ++i) {
        const uint64_t hash = LoadU64LE(expected + 8 * i);
        if (Xxh3Hash64(buffer + uint64_t{i} * kBlockSize, kBlockSize) == hash) continue;
        damaged.push_back(static_cast<uint32_t>(offset / kBlockSize + 1 + i));
        record.values.push_back(static_cast<uint32_t>(hash));
      }
    }
    // The sample, among the blocks of the listed regions the file has.
    const uint64_t perRegion = entry.regionSize / kBlockSize;
    const uint64_t fileBlocks = BlockCount64(size);
    const auto block = [&](uint64_t j) { return uint64_t{entry.regions[j / perRegion].index} * perRegion + j % perRegion + 1; };
    SampleSpread(entry.regions.size() * perRegion,
                 [&](uint64_t j) { return block(j) > fileBlocks || std::binary_search(damaged.begin(), damaged.end(), block(j)); },
                 [&](uint64_t j) {
                   uint8_t hash[8];
                   if (failed) return;
                   const uint64_t at = entry.regions[j / perRegion].hashesAt + 8 * (j % perRegion);
                   if ((failed = ReadAt(scan_.testFile.file, at, hash, 8))) return;
                   StoreOriginSample(record.samples + kOriginSampleBytes * record.origin.samples++,
                                     static_cast<uint32_t>(block(j)), static_cast<uint32_t>(LoadU64LE(hash)));
                 });
    if (failed) return Stopped(Step::ReadTest, failed);
    record.origin.recordedSize = size;
    record.origin.recordedEntries = fileBlocks;
    record.origin.kind = BlockValueKind::Hash64;
    record.origin.carried = static_cast<uint32_t>(damaged.size());
    return WritePatch(file, entry.path, size, fingerprint, damaged, record);
  }

 private:
  // A checked patch: the file's fields and the record, the numbers, the values and samples,
  // the region fingerprints, and the blocks read again from the open file (size bytes).
  Outcome WritePatch(const File& file, const std::string& path, uint64_t size, const Fingerprinter& fingerprint,
                     const std::vector<uint32_t>& damaged, const OriginRecord& record) {
    uint8_t* buffer = scan_.ring.slices[0].bytes;
    const uint64_t recordStart = written_;
    FileStamp stamp;
    if (const SystemError failed = GetFileStamp(file, &stamp)) return Unreadable(path, Step::ReadValidStamp, failed, 0, false);
    uint8_t fields[8 + kHash128Bytes + kFolderFileStampBytes + kOriginFieldBytes];
    StoreFolderFileFields(fields, size, fingerprint.Whole());
    StoreFolderFileStamp(fields + 8 + kHash128Bytes, stamp);
    StoreOriginFields(fields + 8 + kHash128Bytes + kFolderFileStampBytes, record.origin);
    Outcome wrote = Start(FolderAction::CheckedPatch, path, fields, sizeof fields);
    if (wrote.ending != Ending::Done) return wrote;
    uint64_t at = written_;
    wrote = WriteTravellingNumbers(damaged, buffer, 0, scan_.output.file, &at);
    if (wrote.ending == Ending::Done) wrote = WriteRecordAndRegions(record, fingerprint, buffer, &at);
    if (wrote.ending == Ending::Done) {
      wrote = WriteTravellingBytes(file, size, damaged, buffer, scan_.output.file, &at, progress_);
    }
    if (ValidFileFailed(wrote)) return Unreadable(path, Step::ReadValid, FailureOf(wrote), recordStart, true);
    if (wrote.ending != Ending::Done) return wrote;
    written_ = at;
    EntryReport report;
    report.path = path;
    report.event = EntryEvent::Damaged;
    report.blocks = damaged.size();
    result_.entries.push_back(std::move(report));
    return DoneOutcome();
  }

  // A proof asked for: a patch without blocks, which the repair reads back against the
  // fingerprint, so that the holder of the broken folder sees "identical" for himself.
  Outcome Proof(uint32_t v, uint64_t size, const Hash128& whole) {
    uint8_t fields[8 + kHash128Bytes + 4];
    StoreFolderFileFields(fields, size, whole);
    StoreU32LE(fields + 8 + kHash128Bytes, 0);
    return Start(FolderAction::Patch, listing_.Path(v), fields, sizeof fields);
  }

  Outcome Keyed(FolderAction action, const std::string& path, uint32_t b) {
    uint8_t key[8];
    StoreU64LE(key, index_.entryKeys[b]);
    return Start(action, path, key, sizeof key);
  }

  // As AddDifferingRegions, with the broken file's region fingerprints known only as differing
  // or not.
  void AddSketchedRegions(const IndexedEntry& broken, uint64_t pathHash, uint64_t size, const Fingerprinter& fingerprint,
                          std::vector<uint32_t>* damaged) {
    const uint64_t regionSize = FingerprintRegionSize(size);
    if (FingerprintRegionSize(broken.size) != regionSize) return;
    const uint64_t stored = StoredRegionCount(broken.size);
    const uint64_t brokenRegions = stored != 0 ? stored : (broken.size != 0 ? 1 : 0);
    AddRegionBlocks(std::min<uint64_t>(fingerprint.RegionCount(), brokenRegions), regionSize, size, broken.size,
                    [&](uint64_t r) {
                      return sketched_->Delta(FolderElementKey(FolderElement::Fingerprint, pathHash, stored != 0 ? r + 1 : 0)) != 0;
                    },
                    damaged);
  }

  // A valid file whose path the broken folder has, against the decoded differences: one the
  // sketch finds equal is not read again; any other is read once more for its fingerprints and
  // the blocks that travel by their bytes, and patched with the blocks whose checksums differ.
  Outcome CompareSketched(uint32_t v, uint32_t b) {
    const IndexedEntry& broken = index_.entries[b];
    const uint64_t pathHash = (*pathHashes_)[v];
    const auto delta = [&](FolderElement kind, uint64_t number) {
      return sketched_->Delta(FolderElementKey(kind, pathHash, number));
    };
    const bool equal = (*equal_)[v];
    if (equal && !prove_) return DoneOutcome();
    ReadAheadFile* read = Take(v, true);
    if (read == nullptr) return DoneOutcome();
    File& file = read->file;
    const uint64_t size = read->size;
    const uint64_t validBlocks = BlockCount64(size);
    const uint64_t brokenBlocks = BlockCount64(broken.size);
    ++result_.files;
    Exchange exchange;
    exchange.validSize = size;
    exchange.validBlocks = validBlocks;
    exchange.recordedSize = broken.size;
    exchange.entries = brokenBlocks;
    Fingerprinter fingerprint(size, scan_.regions.As<Hash128>());
    std::vector<uint32_t> damaged;
    Sketch none(1);  // nothing is taken out of it: only what travels by its bytes is listed
    TravellingBlocks pass(file, exchange, SketchedEntries{&none, 0}, fingerprint, &damaged, Step::AllocateListing);
    if (read->bytes != nullptr) pass.ReadFrom(read->bytes);
    Outcome collected = pipeline_.Run(pass, size, progress_);
    if (ValidFileFailed(collected)) return Unreadable(v, Step::ReadValid, FailureOf(collected), 0, false);
    if (collected.ending != Ending::Done) return collected;
    if (equal) return Proof(v, size, fingerprint.Whole());
    CompactDifferences found;
    try {
      for (uint64_t n = 1; n <= std::min(validBlocks, brokenBlocks); ++n) {
        const uint64_t d = delta(FolderElement::Block, n);
        if (d == 0) continue;
        found.differences.push_back(SketchDifference{n, d});
        damaged.push_back(static_cast<uint32_t>(n));
      }
    } catch (const std::bad_alloc&) {
      return Stopped(Step::AllocateListing, ErrorOf(SystemErrorKind::NotEnoughMemory));
    }
    std::sort(damaged.begin(), damaged.end());
    damaged.erase(std::unique(damaged.begin(), damaged.end()), damaged.end());
    AddSketchedRegions(broken, pathHash, size, fingerprint, &damaged);

    // The record of the broken file: samples from the valid file's own blocks, which agree; the
    // carried blocks' values from their checksums here and the differences.
    uint8_t* buffer = scan_.ring.slices[0].bytes;
    OriginRecord record;
    Outcome recorded = RecordFromValidFile(file, broken.size, size, damaged, buffer, Step::AllocateListing, &record);
    if (ValidFileFailed(recorded)) return Unreadable(v, Step::ReadValid, FailureOf(recorded), 0, false);
    if (recorded.ending != Ending::Done) return recorded;
    std::vector<uint32_t> checksums;
    for (const uint32_t n : damaged) {
      const uint32_t present = BlockBytesInFile(n, size);
      if (const SystemError failed = ReadPadded(file, uint64_t{n - 1} * kBlockSize, buffer, present, kBlockSize)) {
        return Unreadable(v, Step::ReadValid, failed, 0, false);
      }
      checksums.push_back(BlockChecksum(buffer));
    }
    if (!CarriedValues(found, brokenBlocks, damaged, checksums, &record.values)) return Refused(Step::CheckFolderTestFile);
    return WritePatch(file, listing_.Path(v), size, fingerprint, damaged, record);
  }

  ValidFolderScan& scan_;
  const TreeListing& listing_;
  const TestIndex& index_;
  ReadAhead* files_;
  const SketchedFolder* sketched_ = nullptr;
  const std::vector<uint64_t>* pathHashes_ = nullptr;
  const std::vector<bool>* equal_ = nullptr;
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

// Opens the test file and reads its index, or a folder follow-up's files into *followUp:
// refused when it is neither.
Outcome ReadTestFile(ValidFolderScan& scan, const char* testFilePath, TestIndex* index,
                     std::vector<FolderFollowUpEntry>* followUp, bool* answering, bool* sketched) {
  const FolderFileSteps steps{Step::OpenTest, Step::SizeTest, Step::AllocateTest, Step::ReadTest, Step::CheckTestFileForOneFile,
                              Step::CheckFolderTestFile};
  Outcome opened = OpenFolderFile(testFilePath, &scan.waits, ExchangeFileKind::FolderTestFile, steps, &scan.testFile,
                                  ExchangeFileKind::FolderFollowUp, ExchangeFileKind::CompactFolderTestFile);
  if (opened.ending != Ending::Done) return opened;
  *sketched = ReadExchangeFileKind(scan.testFile.start, scan.testFile.length) == ExchangeFileKind::CompactFolderTestFile;
  if (*sketched) return DoneOutcome();
  *answering = ReadExchangeFileKind(scan.testFile.start, scan.testFile.length) == ExchangeFileKind::FolderFollowUp;
  if (*answering) {
    FileReader reader = scan.testFile.Records();
    switch (ReadFolderFollowUp(scan.testFile.start, scan.testFile.length, reader, followUp)) {
      case FolderFileVerdict::Read: return DoneOutcome();
      case FolderFileVerdict::Malformed: return Refused(Step::CheckFolderFollowUp);
      case FolderFileVerdict::ReadFailed: return Stopped(Step::ReadTest, reader.failure());
    }
  }
  FolderTestHeader header;
  if (ReadFolderTestHeader(scan.testFile.start, scan.testFile.length, &header) != FolderFileVerdict::Read) {
    return Refused(Step::CheckFolderTestFile);
  }
  FileReader reader = scan.testFile.Records();
  return ReadTestIndex(reader, header, index);
}

// Identical folders leave no answer behind: an older folder repair file under the output's
// name (or a request for a larger test file) answered an earlier test file, and applied now it
// would undo changes made since. Only these are removed, known by their tags; anything else of
// that name is left alone.
Outcome RemoveOlderAnswer(ValidFolderScan& scan, const char* outputFolder, const char* validFolderPath,
                          TreeOutcome& result) {
  char path[kPathBufferSize] = {};
  if (const SystemError failed = PutPathIntoBuffer(path, outputFolder)) return Stopped(Step::CreateOutput, failed);
  if (const SystemError failed = BuildFolderOutputPath(path, validFolderPath, ".fix")) return Stopped(Step::CreateOutput, failed);
  uint8_t start[kTagBytes] = {};
  uint64_t length = 0;
  {
    File older;
    if (OpenInputFile(path, &scan.waits, &older, FileAccess::ReadOnly)) return IdenticalOutcome();
    if (GetFileSize64(older, &length) || length < kTagBytes || ReadAt(older, 0, start, kTagBytes)) return IdenticalOutcome();
  }
  const ExchangeFileKind kind = ReadExchangeFileKind(start, length);
  if (kind != ExchangeFileKind::FolderRepairFile && kind != ExchangeFileKind::FolderAskingFile) return IdenticalOutcome();
  if (const SystemError failed = RemoveFile(path)) return Stopped(Step::CreateOutput, failed);
  result.removedAnswer = path;
  return IdenticalOutcome();
}

// The records of the plan, extras first, then the commit; identical folders write nothing and
// leave no older answer behind.
Outcome WritePlan(ValidFolderScan& scan, Writer& writer, const MatchPlan& plan, Progress& progress, const char* outputFolder,
                  const char* validFolderPath, TreeOutcome& result) {
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
  if (writer.count() == 0) return RemoveOlderAnswer(scan, outputFolder, validFolderPath, result);
  finished.outputBytes = writer.written();
  return finished;
}

// The answer to a folder follow-up: for each file it lists, exactly the blocks that differ.
Outcome Answer(ValidFolderScan& scan, const char* validFolderPath, const std::vector<FolderFollowUpEntry>& files,
               const char* outputFolder, const StreamControl& control, TreeOutcome& result) {
  if (const SystemError failed = AcquireSlices(&scan.ring)) return Stopped(Step::AllocateValid, failed);
  if (const SystemError failed = CommitMemory(kRecordRoom, &scan.record)) return Stopped(Step::AllocateTest, failed);
  if (const SystemError failed = CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions), &scan.regions)) {
    return Stopped(Step::AllocateFingerprint, failed);
  }
  uint64_t total = 0;
  for (const FolderFollowUpEntry& file : files) total += file.size;
  Progress progress(control, total);
  Pipeline pipeline(scan.ring);
  const TreeListing noListing;
  const TestIndex noIndex;
  Writer writer(scan, noListing, noIndex, nullptr, pipeline, progress, result, validFolderPath, outputFolder, false);
  const NameRules rules = SystemNameRules(std::strlen(validFolderPath));
  for (const FolderFollowUpEntry& file : files) {
    Outcome answered = writer.Answer(file, rules);
    if (answered.ending != Ending::Done) return answered;
  }
  Outcome finished = writer.Finish();
  if (finished.ending != Ending::Done) return finished;
  if (writer.count() == 0) return RemoveOlderAnswer(scan, outputFolder, validFolderPath, result);
  finished.outputBytes = writer.written();
  return finished;
}

// The compact folder test file read whole: refused when it does not hold together; its check
// (its last 16 bytes) is what an asking repair file names it by.
Outcome ReadCompactFolder(ValidFolderScan& scan, CompactFolderHeader* header, std::optional<Sketch>* sketch, Hash128* check) {
  const uint64_t length = scan.testFile.length;
  uint8_t start[kCompactFolderHeaderBytes];
  if (length < sizeof start) return Refused(Step::CheckFolderTestFile);
  if (const SystemError failed = ReadAt(scan.testFile.file, 0, start, sizeof start)) return Stopped(Step::ReadTest, failed);
  if (!ReadCompactFolderHeader(start, length, header)) return Refused(Step::CheckFolderTestFile);
  try {
    std::vector<uint8_t> bytes(length);
    for (uint64_t at = 0; at < length; at += kStreamBufferBytes) {
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(length - at, kStreamBufferBytes));
      if (const SystemError failed = ReadAt(scan.testFile.file, at, bytes.data() + at, count)) {
        return Stopped(Step::ReadTest, failed);
      }
    }
    if (!ReadCompactFolderTestFile(bytes.data(), length, header, sketch)) return Refused(Step::CheckFolderTestFile);
    *check = LoadHash128(bytes.data() + length - kHash128Bytes);
  } catch (const std::bad_alloc&) {
    return Stopped(Step::AllocateTest, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return DoneOutcome();
}

// The folder's asking repair file, in place of the repair file: a larger compact test file, or
// with plain the plain form (the valid folder has two names the compact form cannot tell apart).
Outcome Ask(ValidFolderScan& scan, const char* validFolderPath, const char* outputFolder, const CompactFolderHeader& header,
            const Hash128& check, double estimate, uint64_t found, bool plain) {
  AskingRepairFile asking;
  asking.brokenSize = header.plainLength;
  asking.answeredLength = scan.testFile.length;
  asking.answeredCheck = check;
  asking.estimatedDifferences = static_cast<uint64_t>(estimate + 0.5);
  asking.askedLength = plain ? header.plainLength : FolderAskedLength(header.plainLength, asking.answeredLength, estimate, found);
  // Nothing larger than the plain form can be asked for, and no broken side writes a compact
  // file as long.
  if (asking.askedLength <= asking.answeredLength) return Refused(Step::CheckFolderTestFile);
  if (const SystemError failed = CreateFolderOutput(&scan.output, outputFolder, validFolderPath, ".fix", &scan.waits)) {
    return Stopped(Step::CreateOutput, failed);
  }
  uint8_t bytes[kAskingRepairFileBytes];
  StoreFolderAskingFile(bytes, asking);
  if (const SystemError failed = WriteAt(scan.output.file, 0, bytes, sizeof bytes)) return Stopped(Step::WriteOutput, failed);
  Outcome result = FinishOutput(&scan.output);
  if (result.ending != Ending::Done) return result;
  result.ending = Ending::MoreNeeded;
  result.outputBytes = sizeof bytes;
  return result;
}

// Whether a valid file of size bytes is what the broken folder has at its path, as the decoded
// differences tell: its size, its fingerprint and every block agree, as the plain form finds it.
bool SketchedFileEqual(const SketchedFolder& folder, uint64_t pathHash, uint64_t size, uint64_t brokenSize) {
  if (size != brokenSize || folder.Delta(FolderElementKey(FolderElement::Fingerprint, pathHash, 0)) != 0) return false;
  for (uint64_t n = 1; n <= BlockCount64(size); ++n) {
    if (folder.Delta(FolderElementKey(FolderElement::Block, pathHash, n)) != 0) return false;
  }
  return true;
}

// The first pass against a compact test file: every entry's elements taken out of the sketch,
// each file read once, the small ones read ahead with their checksums and fingerprint taken by
// the readers. A file that cannot be had is told as skipped, and taken out as one.
// validValues and pathHashes: per listing entry, what was taken out and its key's path hash.
Outcome TakeOutValidFolder(ValidFolderScan& scan, TreeListing& listing, Pipeline& pipeline, const StreamControl& control,
                           Sketch& sketch, std::vector<uint64_t>* validValues, const std::vector<uint64_t>& pathHashes,
                           TreeOutcome& result) {
  std::vector<uint32_t> files;
  for (uint32_t i = 0; i < listing.entries.size(); ++i) {
    if (listing.entries[i].kind == FolderEntryKind::File) files.push_back(i);
  }
  ReadAheadChecksums work;
  ReadAhead readAhead(scan.top, listing, std::move(files),
                      ReadAheadSteps{Step::OpenValid, Step::SizeValid, Step::ReadValid, Step::AllocateValid}, &work, control);
  Outcome started = readAhead.Start();
  if (started.ending != Ending::Done) return started;
  Progress progress(control, listing.fileBytes);
  SketchBatch batch(sketch, true);
  for (uint32_t i = 0; i < listing.entries.size(); ++i) {
    ListedEntry& entry = listing.entries[i];
    if (entry.kind == FolderEntryKind::Skipped && !entry.carried) continue;
    if (progress.StopRequested()) return CancelledOutcome(false);
    EntryValue value{static_cast<uint8_t>(entry.kind), static_cast<uint8_t>(entry.reason), 0};
    const std::string_view name = listing.Name(i);
    if (entry.kind == FolderEntryKind::File) {
      ReadAheadFile& read = readAhead.Next();
      SystemError failed = read.failed;
      Step failedAt = read.failedAt;
      const uint64_t size = read.size;
      if (!failed && read.bytes != nullptr) {
        // Read whole by a reader: one region, no region fingerprints of its own.
        if (entry.fetchedWhenRead) ++result.fetched;
        progress.Advance(size);
        value.size = size;
        SketchEntry(batch, pathHashes[i], name, value, &read.whole, nullptr, 0);
        SketchBlocks(batch, pathHashes[i], read.checksums, BlockCount64(size));
        (*validValues)[i] = StoreEntryValue(value);
        continue;
      }
      Fingerprinter fingerprint(size, scan.regions.As<Hash128>());
      std::vector<uint32_t> checksums;
      if (!failed) {
        GatheredChecksums job(read.file, fingerprint, &checksums, Step::ReadValid, Step::AllocateListing);
        Outcome gathered = pipeline.Run(job, size, progress);
        if (gathered.ending == Ending::Stopped && gathered.step == Step::ReadValid) {
          failed = FailureOf(gathered);
          failedAt = Step::ReadValid;
        } else if (gathered.ending != Ending::Done) {
          return gathered;
        }
      }
      if (failed) {
        result.entries.push_back(UnreadableReport(listing.Path(i), failedAt, failed));
        entry.kind = FolderEntryKind::Skipped;
        entry.reason = SkipReason::Unreadable;
        value = EntryValue{static_cast<uint8_t>(FolderEntryKind::Skipped), static_cast<uint8_t>(SkipReason::Unreadable), 0};
      } else {
        if (entry.fetchedWhenRead) ++result.fetched;
        value.size = size;
        const Hash128 whole = fingerprint.Whole();
        SketchEntry(batch, pathHashes[i], name, value, &whole, fingerprint.Regions(),
                    StoredRegionCount(size) != 0 ? fingerprint.RegionCount() : 0);
        SketchBlocks(batch, pathHashes[i], checksums.data(), checksums.size());
        (*validValues)[i] = StoreEntryValue(value);
        continue;
      }
    }
    SketchEntry(batch, pathHashes[i], name, value, nullptr, nullptr, 0);
    (*validValues)[i] = StoreEntryValue(value);
  }
  batch.Flush();
  readAhead.Close();
  if (progress.StopRequested()) return CancelledOutcome(false);
  return DoneOutcome();
}

// The valid folder against a compact folder test file.
Outcome ScanSketched(ValidFolderScan& scan, const char* validFolderPath, const char* outputFolder,
                     const StreamControl& control, bool prove, TreeOutcome& result) {
  CompactFolderHeader header;
  std::optional<Sketch> sketch;
  Hash128 check;
  Outcome read = ReadCompactFolder(scan, &header, &sketch, &check);
  if (read.ending != Ending::Done) return read;
  TreeListing listing;
  Outcome listed = ListTree(scan.top, Step::ListFolder, control, &listing, &result.entries);
  if (listed.ending != Ending::Done) return listed;
  if (const SystemError failed = AcquireSlices(&scan.ring)) return Stopped(Step::AllocateValid, failed);
  if (const SystemError failed = CommitMemory(kRecordRoom, &scan.record)) return Stopped(Step::AllocateTest, failed);
  if (const SystemError failed = CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions), &scan.regions)) {
    return Stopped(Step::AllocateFingerprint, failed);
  }
  if (KeysClash(ListingEntryKeys(listing))) return Ask(scan, validFolderPath, outputFolder, header, check, 0, 0, true);

  std::vector<uint64_t> pathHashes(listing.entries.size(), 0);
  for (uint32_t i = 0; i < listing.entries.size(); ++i) pathHashes[i] = FoldedPathHash(listing.Path(i));
  std::vector<uint64_t> validValues(listing.entries.size(), 0);
  Pipeline pipeline(scan.ring);
  Outcome taken = TakeOutValidFolder(scan, listing, pipeline, control, *sketch, &validValues, pathHashes, result);
  if (taken.ending != Ending::Done) return taken;

  const std::vector<CodedSymbol> left = sketch->Symbols();
  std::vector<SketchDifference> found;
  const auto mayOccur = [](uint64_t key) {
    const FolderElement kind = KindOfKey(key);
    return kind >= FolderElement::Entry && kind <= FolderElement::Block;
  };
  if (DecodeDifferences(sketch->Symbols(), mayOccur, &found) != DecodeVerdict::Decoded) {
    const double estimate = EstimateDifferences(sketch->Cells(), left);
    return Ask(scan, validFolderPath, outputFolder, header, check, estimate, found.size(), false);
  }
  SketchedFolder folder;
  if (!BuildSketchedFolder(listing, validValues, pathHashes, (header.flags & kFolderFlagWindowsNames) != 0, found, &folder)) {
    return Refused(Step::CheckFolderTestFile);
  }
  MatchPlan plan = MatchTrees(listing, folder.index, result);
  for (const uint32_t e : folder.extras) {
    const bool isFolder = folder.index.entries[e].kind == FolderEntryKind::Folder;
    plan.extras.push_back(PlannedRecord{isFolder ? FolderAction::ExtraFolder : FolderAction::ExtraFile, kNoEntry, e});
  }

  // The files read again, in the records' order: those carried whole, and those the sketch does
  // not find equal (every one, for a proof).
  uint64_t total = 0;
  std::vector<bool> equal(listing.entries.size(), false);
  std::vector<uint32_t> files;
  for (const PlannedRecord& planned : plan.records) {
    if (planned.action == FolderAction::Patch || planned.action == FolderAction::WholeFile) total += listing.entries[planned.valid].size;
    if (planned.action == FolderAction::WholeFile) files.push_back(planned.valid);
    if (planned.action != FolderAction::Patch && planned.action != FolderAction::CheckedPatch) continue;
    EntryValue value;
    LoadEntryValue(validValues[planned.valid], &value);
    equal[planned.valid] = SketchedFileEqual(folder, pathHashes[planned.valid], value.size, folder.index.entries[planned.broken].size);
    if (!equal[planned.valid] || prove) files.push_back(planned.valid);
  }
  ReadAhead readAhead(scan.top, listing, std::move(files),
                      ReadAheadSteps{Step::OpenValid, Step::SizeValid, Step::ReadValid, Step::AllocateValid}, nullptr, control);
  Outcome started = readAhead.Start();
  if (started.ending != Ending::Done) return started;
  Progress progress(control, total);
  Writer writer(scan, listing, folder.index, &readAhead, pipeline, progress, result, validFolderPath, outputFolder, prove);
  writer.Sketched(&folder, &pathHashes, &equal);
  return WritePlan(scan, writer, plan, progress, outputFolder, validFolderPath, result);
}

Outcome Scan(ValidFolderScan& scan, const char* validFolderPath, const char* testFilePath, const char* outputFolder,
             const StreamControl& control, bool prove, TreeOutcome& result) {
  if (const SystemError failed = OpenFolder(validFolderPath, &scan.waits, &scan.top)) {
    return Stopped(Step::OpenValidFolder, failed);
  }
  TestIndex index;
  std::vector<FolderFollowUpEntry> followUp;
  bool answering = false;
  bool sketched = false;
  Outcome read = ReadTestFile(scan, testFilePath, &index, &followUp, &answering, &sketched);
  if (read.ending != Ending::Done) return read;
  if (answering) return Answer(scan, validFolderPath, followUp, outputFolder, control, result);
  if (sketched) return ScanSketched(scan, validFolderPath, outputFolder, control, prove, result);
  TreeListing listing;
  Outcome listed = ListTree(scan.top, Step::ListFolder, control, &listing, &result.entries);
  if (listed.ending != Ending::Done) return listed;

  const MatchPlan plan = MatchTrees(listing, index, result);

  if (const SystemError failed = AcquireSlices(&scan.ring)) return Stopped(Step::AllocateValid, failed);
  if (const SystemError failed = CommitMemory(kRecordRoom, &scan.record)) return Stopped(Step::AllocateTest, failed);
  if (const SystemError failed = CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions), &scan.regions)) {
    return Stopped(Step::AllocateFingerprint, failed);
  }

  uint64_t total = 0;
  std::vector<uint32_t> files;
  for (const PlannedRecord& planned : plan.records) {
    if (planned.action == FolderAction::Patch || planned.action == FolderAction::WholeFile) total += listing.entries[planned.valid].size;
    if (planned.action == FolderAction::Patch || planned.action == FolderAction::CheckedPatch ||
        planned.action == FolderAction::WholeFile) {
      files.push_back(planned.valid);
    }
  }
  ReadAhead readAhead(scan.top, listing, std::move(files),
                      ReadAheadSteps{Step::OpenValid, Step::SizeValid, Step::ReadValid, Step::AllocateValid}, nullptr, control);
  Outcome started = readAhead.Start();
  if (started.ending != Ending::Done) return started;
  Progress progress(control, total);
  Pipeline pipeline(scan.ring);
  Writer writer(scan, listing, index, &readAhead, pipeline, progress, result, validFolderPath, outputFolder, prove);
  return WritePlan(scan, writer, plan, progress, outputFolder, validFolderPath, result);
}

}  // namespace

TreeOutcome ScanValidFolder(const char* validFolderPath, const char* testFilePath, const char* outputFolder,
                            const StreamControl& control, bool prove) {
  ValidFolderScan scan(control.stop);
  TreeOutcome result;
  try {
    result.outcome = Scan(scan, validFolderPath, testFilePath, outputFolder, control, prove, result);
  } catch (const std::bad_alloc&) {
    result.outcome = Stopped(Step::AllocateListing, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return result;
}
