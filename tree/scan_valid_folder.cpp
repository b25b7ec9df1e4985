// The folder repair file. The valid folder is listed and matched with the test file's
// entries folder by folder, by name, and then by name ignoring letter case; that decides,
// before any file is read, which entries are extra, missing, renamed or to be compared.
// Then the records are written: the extra entries first (so that a repair that deletes
// them clears the way), then the valid folder's entries in its order, each folder before
// what it holds. A file is compared by reading it once for its checksums and fingerprints;
// the blocks that must travel are read again to be written.
#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/folder_repair_file.h"
#include "core/folder_test_file.h"
#include "core/test_file.h"
#include "stream/output_file.h"
#include "stream/steps.h"
#include "support/files_by_path.h"
#include "tree/file_reader.h"
#include "tree/folder_cursor.h"
#include "tree/listing.h"
#include "tree/names.h"
#include "tree/operations.h"
#include "tree/test_index.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFE;
// Room for a record's start, its file fields and its block count.
constexpr uint32_t kRecordRoom = 3 + kLongestFolderPath + 8 + kHash128Bytes + 4;

// What one call holds; null until obtained.
struct ValidFolderScan {
  FolderHandle top = nullptr;
  FileHandle testFile = nullptr;
  FileHandle file = nullptr;
  uint8_t* slice = nullptr;
  uint8_t* entries = nullptr;
  uint8_t* testBuffer = nullptr;
  Hash128* regions = nullptr;  // room for the region hashes of the file under way
  OutputFile output;
};

void Release(ValidFolderScan& scan) {
  AbandonOutput(&scan.output);
  if (scan.file != nullptr) CloseFile(scan.file);
  if (scan.testFile != nullptr) CloseFile(scan.testFile);
  if (scan.top != nullptr) CloseFolder(scan.top);
  if (scan.slice != nullptr) ReleaseMemory(scan.slice);
  if (scan.entries != nullptr) ReleaseMemory(scan.entries);
  if (scan.testBuffer != nullptr) ReleaseMemory(scan.testBuffer);
  if (scan.regions != nullptr) ReleaseMemory(scan.regions);
}


// A record to write, in order: valid is the listing's entry, broken the test file's.
struct Planned {
  FolderAction action;
  uint32_t valid;
  uint32_t broken;
};

class Matcher {
 public:
  Matcher(const TreeListing& listing, const TestIndex& index, TreeOutcome& result)
      : listing_(listing), index_(index), result_(result) {}

  void Folder(uint32_t valid, uint32_t broken) {
    const std::vector<uint32_t> brokenEntries = broken == kNone ? std::vector<uint32_t>() : index_.EntriesOf(broken);
    const uint32_t first = valid == kTopFolder ? listing_.firstEntry : listing_.entries[valid].firstEntry;
    const uint32_t count = valid == kTopFolder ? listing_.entryCount : listing_.entries[valid].entryCount;
    std::vector<uint32_t> validLeft, brokenLeft;
    // Both sides are sorted by name: a merge finds the names they share.
    size_t b = 0;
    for (uint32_t v = first; v < first + count; ++v) {
      while (b < brokenEntries.size() && index_.Name(brokenEntries[b]) < listing_.Name(v)) brokenLeft.push_back(brokenEntries[b++]);
      if (b < brokenEntries.size() && index_.Name(brokenEntries[b]) == listing_.Name(v) && listing_.entries[v].nameLength != 0) {
        Pair(v, brokenEntries[b++], false);
      } else {
        validLeft.push_back(v);
      }
    }
    while (b < brokenEntries.size()) brokenLeft.push_back(brokenEntries[b++]);

    // Then by name ignoring case: an entry renamed only in letter case is renamed back.
    std::vector<std::pair<std::string, uint32_t>> brokenFolded;
    for (const uint32_t e : brokenLeft) brokenFolded.emplace_back(CaseKey(index_.Name(e)), e);
    std::sort(brokenFolded.begin(), brokenFolded.end());
    std::vector<bool> brokenTaken(brokenFolded.size(), false);
    std::vector<std::string> foldsTaken;
    for (const uint32_t v : validLeft) {
      if (listing_.entries[v].nameLength == 0) continue;  // a name no exchange file carries: told already
      const std::string folded = CaseKey(listing_.Name(v));
      const auto at = std::lower_bound(brokenFolded.begin(), brokenFolded.end(), std::make_pair(folded, uint32_t{0}));
      const size_t i = static_cast<size_t>(at - brokenFolded.begin());
      if (at != brokenFolded.end() && at->first == folded && !brokenTaken[i]) {
        brokenTaken[i] = true;
        Pair(v, at->second, true);
      } else {
        Missing(v, first, count);
      }
    }
    for (size_t i = 0; i < brokenFolded.size(); ++i) {
      if (!brokenTaken[i]) Extra(brokenFolded[i].second);
    }
  }

  std::vector<Planned> extras;
  std::vector<Planned> records;

 private:
  void Report(std::string path, EntryEvent event, EntrySkip skip = EntrySkip::None) {
    EntryReport report;
    report.path = std::move(path);
    report.event = event;
    report.skip = skip;
    result_.entries.push_back(std::move(report));
  }

  void Pair(uint32_t v, uint32_t b, bool renamed) {
    const ListedEntry& valid = listing_.entries[v];
    const IndexedEntry& broken = index_.entries[b];
    // A link or another entry the valid scan skipped has been told; what the broken folder
    // has in its place is left alone.
    if (valid.kind == FolderEntryKind::Skipped) return;
    if (broken.kind == FolderEntryKind::Skipped) {
      Report(listing_.Path(v), EntryEvent::Skipped, EntrySkip::BrokenSide);
      result_.entries.back().brokenReason = static_cast<uint8_t>(broken.reason);
      result_.entries.back().folder = valid.kind == FolderEntryKind::Folder;
      return;
    }
    if (valid.kind != broken.kind) {
      Extra(b);
      Missing(v, v, 1);
      return;
    }
    if (renamed) {
      records.push_back(Planned{FolderAction::Rename, v, b});
      Report(listing_.Path(v), EntryEvent::CaseDiffers);
      result_.entries.back().folder = valid.kind == FolderEntryKind::Folder;
    }
    if (valid.kind == FolderEntryKind::Folder) {
      ++result_.folders;
      Folder(v, b);
    } else {
      records.push_back(Planned{FolderAction::Patch, v, b});
    }
  }

  // A valid entry the broken folder lacks, with all it holds; siblings are the valid entries
  // of its folder, for names that would be one there.
  void Missing(uint32_t v, uint32_t firstSibling, uint32_t siblingCount) {
    const ListedEntry& valid = listing_.entries[v];
    if (valid.kind == FolderEntryKind::Skipped) return;
    if (index_.windowsNames) {
      NameFault fault = CheckComponent(listing_.Name(v), OtherSideNameRules(true));
      // Names that differ only in case are one name there: the first of them is carried.
      const std::string folded = CaseKey(listing_.Name(v));
      for (uint32_t s = firstSibling; s < firstSibling + siblingCount && fault == NameFault::None && s < v; ++s) {
        if (listing_.entries[s].nameLength != 0 && CaseKey(listing_.Name(s)) == folded) fault = NameFault::CaseClash;
      }
      if (fault != NameFault::None) {
        Report(listing_.Path(v), EntryEvent::Skipped, EntrySkip::NotPossibleThere);
        result_.entries.back().nameFault = fault;
        result_.entries.back().folder = valid.kind == FolderEntryKind::Folder;
        return;
      }
    }
    if (valid.kind == FolderEntryKind::Folder) {
      records.push_back(Planned{FolderAction::CreateFolder, v, kNone});
      Report(listing_.Path(v), EntryEvent::FolderMissing);
      result_.entries.back().folder = true;
      ++result_.folders;
      Folder(v, kNone);
    } else {
      records.push_back(Planned{FolderAction::WholeFile, v, kNone});
    }
  }

  // A broken entry the valid folder lacks: its own entries first, so that a repair deleting
  // them finds the folder empty. Walked with a list of its own: the test file is someone
  // else's, and its depth is not bounded.
  void Extra(uint32_t top) {
    std::vector<std::pair<uint32_t, bool>> stack{{top, false}};
    while (!stack.empty()) {
      auto [b, expanded] = stack.back();
      stack.pop_back();
      const IndexedEntry& broken = index_.entries[b];
      if (broken.kind == FolderEntryKind::Folder && !expanded) {
        stack.push_back({b, true});
        const std::vector<uint32_t> inside = index_.EntriesOf(b);
        for (auto e = inside.rbegin(); e != inside.rend(); ++e) stack.push_back({*e, false});
        continue;
      }
      if (broken.kind == FolderEntryKind::Skipped) {
        Report(std::string(index_.Path(b)), EntryEvent::Skipped, EntrySkip::BrokenSide);
        result_.entries.back().brokenReason = static_cast<uint8_t>(broken.reason);
        continue;
      }
      const bool folder = broken.kind == FolderEntryKind::Folder;
      extras.push_back(Planned{folder ? FolderAction::ExtraFolder : FolderAction::ExtraFile, kNone, b});
      Report(std::string(index_.Path(b)), EntryEvent::Extra);
      result_.entries.back().folder = folder;
    }
  }

  const TreeListing& listing_;
  const TestIndex& index_;
  TreeOutcome& result_;
};

class Writer {
 public:
  Writer(ValidFolderScan& scan, const TreeListing& listing, const TestIndex& index, Progress& progress, TreeOutcome& result,
         const char* validFolderPath, const char* outputFolder, bool prove)
      : scan_(scan), listing_(listing), index_(index), progress_(progress), result_(result), cursor_(scan.top),
        validFolderPath_(validFolderPath), outputFolder_(outputFolder), prove_(prove) {}

  Outcome Record(const Planned& planned) {
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
    if (!WriteAt(scan_.output.file, 0, scan_.entries, StoreFolderRepairHeader(scan_.entries, count_))) {
      return StoppedAt(Step::WriteOutput);
    }
    if (!SetFileLength(scan_.output.file, written_)) return StoppedAt(Step::WriteOutput);
    return FinishOutput(&scan_.output);
  }

  uint64_t count() const { return count_; }
  uint64_t written() const { return written_; }

 private:
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
      if (!WriteAt(scan_.output.file, 0, scan_.entries, StoreFolderRepairHeader(scan_.entries, 0))) {
        return StoppedAt(Step::WriteOutput);
      }
    }
    uint32_t bytes = StoreFolderRecordStart(scan_.entries, action, path);
    std::copy(fields, fields + fieldBytes, scan_.entries + bytes);
    ++count_;
    return Write(scan_.entries, bytes + fieldBytes);
  }

  // The valid file's own failures leave it out of the repair file, told as skipped.
  Outcome Unreadable(uint32_t v, Step step, uint64_t recordStart, bool recordStarted) {
    EntryReport report;
    report.path = listing_.Path(v);
    report.skip = LastSystemError() == SystemErrorCode(SystemErrorKind::IsLink) ? EntrySkip::Link : EntrySkip::Unreadable;
    report.step = step;
    report.systemError = LastSystemError();
    report.holder = LastFileHolder();
    result_.entries.push_back(std::move(report));
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
    std::vector<std::string_view> folders;
    listing_.FolderNames(v, &folders);
    FolderHandle folder = cursor_.MoveTo(folders);
    if (folder == nullptr) return Unreadable(v, Step::OpenValid, 0, false), 0;
    const std::string name(listing_.Name(v));
    scan_.file = OpenFileIn(folder, name.c_str(), 0);
    if (scan_.file == nullptr) return Unreadable(v, Step::OpenValid, 0, false), 0;
    if (!GetFileSize64(scan_.file, size)) return Unreadable(v, Step::SizeValid, 0, false), 0;
    if (*size > kLargestExchangedSize) {
      SetLastSystemError(SystemErrorCode(SystemErrorKind::FileTooLarge));
      return Unreadable(v, Step::SizeValid, 0, false), 0;
    }
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
    for (uint64_t done = 0; done < size;) {
      if (progress_.StopRequested()) return CancelledOutcome(false);
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size - done, kStreamBufferBytes));
      if (!ReadAt(scan_.file, done, scan_.slice, count)) return Unreadable(v, Step::ReadValid, recordStart, true);
      fingerprint.Add(scan_.slice, count);
      if ((wrote = Write(scan_.slice, count)).ending != Ending::Done) return wrote;
      done += count;
      progress_.Advance(count);
    }
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
      if (!ReadAt(scan_.testFile, broken.regionsAt + kHash128Bytes * r, bytes, sizeof bytes)) return StoppedAt(Step::ReadTest);
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

  // The first pass over a valid file whose name the broken folder has: every block that
  // must travel, and its fingerprints.
  Outcome Collect(const IndexedEntry& broken, uint64_t size, uint32_t v, Fingerprinter* fingerprint,
                  std::vector<uint32_t>* damaged, bool* unreadable) {
    Exchange exchange;
    exchange.validSize = size;
    exchange.validBlocks = BlockCount64(size);
    exchange.recordedSize = broken.size;
    exchange.entries = BlockCount64(broken.size);
    const uint64_t entryBytes = 4 * exchange.entries;
    for (uint64_t done = 0; done < size;) {
      if (progress_.StopRequested()) return CancelledOutcome(false);
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size - done, kStreamBufferBytes));
      const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
      if (!ReadPadded(scan_.file, done, scan_.slice, count, blocks * kBlockSize)) {
        *unreadable = true;
        return Unreadable(v, Step::ReadValid, 0, false);
      }
      // The fingerprint and the block checksums in one pass over the slice.
      uint32_t checksums[kStreamBufferBlocks];
      fingerprint->AddBlocks(scan_.slice, count, checksums);
      const uint64_t first = done / kBlockSize + 1;
      const uint64_t entriesFrom = 4 * (first - 1);
      const uint64_t entriesTo = std::min<uint64_t>(entriesFrom + 4 * uint64_t{blocks}, entryBytes);
      if (entriesFrom < entriesTo &&
          !ReadAt(scan_.testFile, broken.checksumsAt + entriesFrom, scan_.entries, static_cast<uint32_t>(entriesTo - entriesFrom))) {
        return StoppedAt(Step::ReadTest);
      }
      for (uint32_t i = 0; i < blocks; ++i) {
        const uint64_t b = first + i;
        const uint32_t entry = TestFileEntry(scan_.entries + 4 * i, b, entryBytes);
        if (BlockMustTravel(exchange, b, scan_.slice + uint64_t{i} * kBlockSize, entry, checksums[i])) {
          damaged->push_back(static_cast<uint32_t>(b));
        }
      }
      done += count;
      progress_.Advance(count);
    }
    return DoneOutcome();
  }

  Outcome Compare(uint32_t v, uint32_t b) {
    const IndexedEntry& broken = index_.entries[b];
    uint64_t size;
    if (!Open(v, &size)) return DoneOutcome();
    ++result_.files;
    Fingerprinter fingerprint(size, scan_.regions);
    std::vector<uint32_t> damaged;
    bool unreadable = false;
    Outcome collected = Collect(broken, size, v, &fingerprint, &damaged, &unreadable);
    if (collected.ending != Ending::Done || unreadable) return collected;
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
    for (size_t j = 0; j < damaged.size();) {
      const size_t run = std::min<uint64_t>(damaged.size() - j, kStreamBufferBlocks);
      for (size_t i = 0; i < run; ++i) StoreU32LE(scan_.slice + 4 * i, damaged[j + i]);
      if ((wrote = Write(scan_.slice, static_cast<uint32_t>(4 * run))).ending != Ending::Done) return wrote;
      j += run;
    }
    // The blocks, read again; neighbours in one read.
    progress_.AddToTotal(uint64_t{damaged.size()} * kBlockSize);
    for (size_t j = 0; j < damaged.size();) {
      if (progress_.StopRequested()) return CancelledOutcome(false);
      uint32_t run = 1;
      while (j + run < damaged.size() && run < kStreamBufferBlocks && damaged[j + run] == damaged[j] + run) ++run;
      const uint64_t start = uint64_t{damaged[j] - 1} * kBlockSize;
      const uint32_t present = static_cast<uint32_t>(std::min<uint64_t>(size - start, uint64_t{run} * kBlockSize));
      if (!ReadPadded(scan_.file, start, scan_.slice, present, run * kBlockSize)) {
        return Unreadable(v, Step::ReadValid, recordStart, true);
      }
      if ((wrote = Write(scan_.slice, run * kBlockSize)).ending != Ending::Done) return wrote;
      j += run;
      progress_.Advance(uint64_t{run} * kBlockSize);
    }
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
  scan.testFile = OpenInputByPath(testFilePath);
  if (scan.testFile == nullptr) return StoppedAt(Step::OpenTest);
  uint64_t length;
  if (!GetFileSize64(scan.testFile, &length)) return StoppedAt(Step::SizeTest);
  scan.testBuffer = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
  if (scan.testBuffer == nullptr) return StoppedAt(Step::AllocateTest);
  uint8_t start[kFolderFileHeaderBytes] = {};
  const uint32_t startBytes = static_cast<uint32_t>(std::min<uint64_t>(length, sizeof start));
  if (startBytes > 0 && !ReadAt(scan.testFile, 0, start, startBytes)) return StoppedAt(Step::ReadTest);
  switch (ReadExchangeFileKind(start, length)) {
    case ExchangeFileKind::FolderTestFile: break;
    case ExchangeFileKind::Plain: return Refused(Step::CheckTestFileForOneFile);
    case ExchangeFileKind::FollowUpTestFile:
    case ExchangeFileKind::FolderRepairFile: return Refused(Step::CheckFolderTestFile);
  }
  FolderTestHeader header;
  if (ReadFolderTestHeader(start, length, &header) != FolderFileVerdict::Read) return Refused(Step::CheckFolderTestFile);
  FileReader reader(scan.testFile, length, scan.testBuffer, kStreamBufferBytes);
  reader.Seek(kFolderFileHeaderBytes);
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

  Matcher matcher(listing, index, result);
  matcher.Folder(kTopFolder, kTopFolder);

  scan.slice = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
  if (scan.slice == nullptr) return StoppedAt(Step::AllocateValid);
  scan.entries = static_cast<uint8_t*>(CommitMemory(4 * kStreamBufferBlocks + kRecordRoom));
  if (scan.entries == nullptr) return StoppedAt(Step::AllocateTest);
  scan.regions = static_cast<Hash128*>(CommitMemory(static_cast<uint32_t>(sizeof(Hash128) * kMostRegions)));
  if (scan.regions == nullptr) return StoppedAt(Step::AllocateFingerprint);

  uint64_t total = 0;
  for (const Planned& planned : matcher.records) {
    if (planned.action == FolderAction::Patch || planned.action == FolderAction::WholeFile) total += listing.entries[planned.valid].size;
  }
  Progress progress(control, total);
  Writer writer(scan, listing, index, progress, result, validFolderPath, outputFolder, prove);
  for (const std::vector<Planned>* list : {&matcher.extras, &matcher.records}) {
    for (const Planned& planned : *list) {
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
