// The patch records of a folder repair: the carried blocks put in place in the broken file and
// its length set, then the file read back against its fingerprint. A checked patch first checks
// the file against its record of the broken file; a patch without blocks of a file that has
// its size already is a proof, only read back. A file with other names is patched in a copy
// that takes its place under this one.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "stream/origin_check.h"
#include "tree/repair_entry.h"

namespace {

// u32 numbers from the repair file at at, as many as values holds.
SystemError ReadValues(const RepairWork& work, uint64_t at, std::vector<uint32_t>* values) {
  for (size_t j = 0; j < values->size();) {
    const uint32_t run = static_cast<uint32_t>(std::min<size_t>(values->size() - j, kStreamBufferBytes / 4));
    if (const SystemError failed = ReadAt(work.repairFile, at + 4 * uint64_t{j}, work.slice, 4 * run)) return failed;
    for (uint32_t k = 0; k < run; ++k) (*values)[j + k] = LoadU32LE(work.slice + 4 * uint64_t{k});
    j += run;
  }
  return SystemError{};
}

// A checked patch's record against the file, before anything is written to it: *fits, or
// why not.
Outcome CheckRecord(RepairWork& work, const PlannedChange& change, const CheckedPatch& checked, const File& file, bool* fits,
                    CheckRefusal* why) {
  uint64_t size;
  if (const SystemError failed = GetFileSize64(file, &size)) return Stopped(Step::SizeBroken, failed);
  std::vector<uint32_t> list(change.blockCount), values(change.blockCount);
  uint8_t samples[kMostSampledBlocks * kOriginSampleBytes];
  SystemError failed = ReadValues(work, change.blockNumbersAt, &list);
  if (!failed) failed = ReadValues(work, checked.valuesAt, &values);
  if (!failed && checked.origin.samples > 0) {
    failed = ReadAt(work.repairFile, checked.samplesAt, samples, kOriginSampleBytes * checked.origin.samples);
  }
  if (failed) return Stopped(Step::ReadRepair, failed);
  const CarriedBlocks carried{&work.repairFile, change.dataAt, change.validSize, &list, &values, samples};
  Outcome result = CheckOrigin(file, size, carried, checked.origin, work.brokenSlice, work.slice);
  *fits = result.ending == Ending::Done;
  if (result.ending != Ending::OtherFile) return result;
  *why = result.check;
  return DoneOutcome();
}

// Copies the file's bytes (size) into the copy that is to stand in for it.
Outcome CopyBytes(RepairWork& work, const File& from, const File& to, uint64_t size) {
  for (uint64_t done = 0; done < size;) {
    if (work.progress.StopRequested()) return work.Cancelled();
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size - done, kStreamBufferBytes));
    if (const SystemError failed = ReadAt(from, done, work.slice, count)) return Stopped(Step::ReadBroken, failed);
    if (const SystemError failed = WriteAt(to, done, work.slice, count)) return Stopped(Step::WriteRepaired, failed);
    done += count;
  }
  return DoneOutcome();
}

// The carried blocks, a slice at a time: each block's number and where its bytes are in
// work.slice, with j its place among the carried ones.
template <typename EachBlock>
Outcome ForCarriedBlocks(RepairWork& work, const PlannedChange& change, EachBlock each) {
  uint8_t numbers[4 * kStreamBufferBlocks];
  for (uint32_t j = 0; j < change.blockCount;) {
    if (work.progress.StopRequested()) return work.Cancelled();
    // As many blocks as the slice holds, and their numbers.
    const uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(change.blockCount - j, kStreamBufferBlocks));
    SystemError failed = ReadAt(work.repairFile, change.blockNumbersAt + 4 * uint64_t{j}, numbers, 4 * run);
    if (!failed) failed = ReadAt(work.repairFile, change.dataAt + uint64_t{j} * kBlockSize, work.slice, run * kBlockSize);
    if (failed) return Stopped(Step::ReadRepair, failed);
    for (uint32_t k = 0; k < run; ++k) {
      Outcome done = each(j + k, LoadU32LE(numbers + 4 * k), work.slice + uint64_t{k} * kBlockSize);
      if (done.ending != Ending::Done) return done;
    }
    j += run;
  }
  return DoneOutcome();
}

// The carried blocks whose bytes the file (size bytes now) does not hold already, by their
// place among the carried ones: a run that put them in place before needs none written.
Outcome BlocksOutOfPlace(RepairWork& work, const PlannedChange& change, const File& file, uint64_t size,
                         std::vector<uint32_t>* outOfPlace) {
  return ForCarriedBlocks(work, change, [&](uint32_t j, uint32_t number, const uint8_t* carried) {
    const uint32_t bytes = BlockBytesInFile(number, change.validSize);
    const uint64_t offset = uint64_t{number - 1} * kBlockSize;
    if (offset + bytes <= size) {
      if (const SystemError failed = ReadAt(file, offset, work.brokenSlice, bytes)) return Stopped(Step::ReadBroken, failed);
      if (std::equal(carried, carried + bytes, work.brokenSlice)) return DoneOutcome();
    }
    outOfPlace->push_back(j);
    return DoneOutcome();
  });
}

// Puts the carried blocks out of place in file and gives it the valid size (size bytes now).
Outcome PutBlocks(RepairWork& work, const PlannedChange& change, const File& file, uint64_t size,
                  const std::vector<uint32_t>& outOfPlace) {
  Outcome put = ForCarriedBlocks(work, change, [&](uint32_t j, uint32_t number, const uint8_t* carried) {
    if (!std::binary_search(outOfPlace.begin(), outOfPlace.end(), j)) return DoneOutcome();
    work.changed = true;
    if (const SystemError failed =
            WriteAt(file, uint64_t{number - 1} * kBlockSize, carried, BlockBytesInFile(number, change.validSize))) {
      return Stopped(Step::WriteRepaired, failed);
    }
    return DoneOutcome();
  });
  if (put.ending != Ending::Done) return put;
  work.progress.Advance(uint64_t{change.blockCount} * kBlockSize);
  if (size != change.validSize) {
    work.changed = true;
    if (const SystemError failed = SetFileLength(file, change.validSize)) return Stopped(Step::WriteRepaired, failed);
  }
  if (const SystemError failed = FlushFile(file)) return Stopped(Step::WriteRepaired, failed);
  return DoneOutcome();
}

// A file with other names is repaired in a copy beside it, which takes its attributes and then
// its name, so that its other names keep what they had. Done with *file the copy, under the
// file's name; or the entry skipped, with *file as it was.
Outcome PatchThroughCopy(RepairWork& work, const Entry& entry, File* file, uint64_t size,
                         const std::vector<uint32_t>& outOfPlace, bool* skipped) {
  const PlannedChange& change = entry.change;
  *skipped = true;
  // The copy is made with the file's own bits, never readable by more than the file is.
  FileStamp own;
  if (const SystemError failed = GetFileStamp(*file, &own)) return Stopped(Step::KeepFileAttributes, failed);
  TemporaryIn copy(entry.folder);
  if (const SystemError failed = copy.Create(entry.name, own.permissions)) {
    return work.Skipped(entry, Step::CreateOutput, failed);
  }
  const uint64_t copied = std::min(size, change.validSize);
  Outcome done = CopyBytes(work, *file, copy.file, copied);
  if (done.ending == Ending::Done) done = PutBlocks(work, change, copy.file, copied, outOfPlace);
  if (done.ending != Ending::Done) return done;
  if (const SystemError failed = CopyFileAttributes(*file, copy.file)) return Stopped(Step::KeepFileAttributes, failed);
  if (const SystemError failed = copy.Name()) return Stopped(Step::WriteRepaired, failed);
  if (const SystemError failed = file->Close()) return Stopped(Step::WriteRepaired, failed);
  if (const SystemError failed = RenameIn(entry.folder, copy.name(), entry.name.c_str(), TakenName::Replace)) {
    return work.Skipped(entry, Step::RenameEntry, failed);
  }
  copy.Keep();
  // The copy is the file now: read back like any other.
  *file = std::move(copy.file);
  *skipped = false;
  return DoneOutcome();
}

// The regions of a file that still differ: those whose fingerprint is not the valid file's
// (a checked patch carries them; otherwise, or for a file of one region, all of them).
Outcome DifferingRegions(const RepairWork& work, const PlannedChange& change, const CheckedPatch* checked,
                         const Fingerprinter& fingerprint, std::vector<uint32_t>* regions) {
  const uint64_t count = FingerprintRegionCount(change.validSize);
  for (uint64_t r = 0; r < count; ++r) {
    if (checked != nullptr && checked->regionsAt != 0) {
      uint8_t stored[kHash128Bytes];
      if (const SystemError failed = ReadAt(work.repairFile, checked->regionsAt + kHash128Bytes * r, stored, sizeof stored)) {
        return Stopped(Step::ReadRepair, failed);
      }
      if (LoadHash128(stored) == fingerprint.Regions()[r]) continue;
    }
    regions->push_back(static_cast<uint32_t>(r));
  }
  return DoneOutcome();
}

// Opens the broken file, for reading only when a patch without blocks may only prove it: a
// read-only file can be proved too. *proof stays only when the file has the valid size. One
// with a stamp may take its time, which Windows sets only through a handle that may write.
Outcome OpenPatched(RepairWork& work, const Entry& entry, File* file, bool* proof, bool* skipped) {
  *skipped = true;
  *proof = entry.change.blockCount == 0;
  const bool readOnly = *proof && !entry.change.stamped;
  if (const SystemError failed =
          OpenFileIn(entry.folder, entry.name.c_str(), readOnly ? FileAccess::ReadOnly : FileAccess::ReadWrite, file)) {
    return work.Skipped(entry, Step::OpenBroken, failed);
  }
  if (*proof) {
    uint64_t size = 0;
    if (const SystemError failed = GetFileSize64(*file, &size)) return work.Skipped(entry, Step::SizeBroken, failed);
    if (size != entry.change.validSize) {
      *proof = false;
      *file = File();
      if (const SystemError failed = OpenFileIn(entry.folder, entry.name.c_str(), FileAccess::ReadWrite, file)) {
        return work.Skipped(entry, Step::OpenBroken, failed);
      }
    }
  }
  *skipped = false;
  return DoneOutcome();
}

Outcome Patch(RepairWork& work, const Entry& entry, const CheckedPatch* checked) {
  const PlannedChange& change = entry.change;
  // The kind first: a device, a pipe or a socket is never opened, let alone for writing.
  EntryKind kind;
  bool present;
  if (const SystemError failed = KindAt(entry.folder, entry.name, &kind, &present)) {
    return work.Skipped(entry, Step::OpenBroken, failed);
  }
  if (!present) return work.Skipped(entry, Step::OpenBroken, ErrorOf(SystemErrorKind::FileNotFound));
  if (kind == EntryKind::Other) {
    work.Report(entry, EntryEvent::Skipped, EntrySkip::NotRegular);
    return DoneOutcome();
  }
  if (kind != EntryKind::File) {
    return work.Skipped(entry, Step::OpenBroken,
                        InTheWay(kind, kind == EntryKind::Folder ? SystemErrorKind::IsFolder : SystemErrorKind::NotRegularFile));
  }
  File file;
  bool proof;
  bool skipped;
  Outcome opened = OpenPatched(work, entry, &file, &proof, &skipped);
  if (opened.ending != Ending::Done || skipped) return opened;
  if (checked != nullptr) {
    bool fits = false;
    CheckRefusal why;
    Outcome read = CheckRecord(work, change, *checked, file, &fits, &why);
    if (read.ending != Ending::Done) return read;
    if (!fits) {
      file = File();
      work.Report(entry, EntryEvent::Skipped, EntrySkip::OtherFile).check = why;
      return DoneOutcome();
    }
  }
  bool throughCopy = false;
  bool written = false;
  std::vector<uint32_t> outOfPlace;
  uint64_t size = 0;
  if (!proof) {
    // Only what is not in place already is written: a run again writes nothing.
    if (const SystemError failed = GetFileSize64(file, &size)) return Stopped(Step::SizeBroken, failed);
    Outcome looked = BlocksOutOfPlace(work, change, file, size, &outOfPlace);
    if (looked.ending != Ending::Done) return looked;
    written = !outOfPlace.empty() || size != change.validSize;
  }
  if (written) {
    uint32_t links = 1;
    if (const SystemError failed = GetFileLinkCount(file, &links)) return Stopped(Step::SizeBroken, failed);
    throughCopy = links > 1;
    Outcome put =
        throughCopy ? PatchThroughCopy(work, entry, &file, size, outOfPlace, &skipped) : PutBlocks(work, change, file, size, outOfPlace);
    if (put.ending != Ending::Done || (throughCopy && skipped)) return put;
  } else if (!proof) {
    work.progress.Advance(uint64_t{change.blockCount} * kBlockSize);
  }
  Fingerprinter fingerprint(change.validSize, work.regions);
  Outcome read = work.ReadFingerprint(file, change.validSize, &fingerprint);
  if (read.ending != Ending::Done) return read;
  const bool matches = fingerprint.Whole() == change.fingerprint;
  if (!matches) {
    DifferingFile differing{std::string(work.plan.Path(entry.index)), change.validSize, {}};
    Outcome regions = DifferingRegions(work, change, checked, fingerprint, &differing.regions);
    if (regions.ending != Ending::Done) return regions;
    work.differing.push_back(std::move(differing));
  }
  // A file that matches takes the valid file's time, after its last write; one set already
  // is left as it is.
  bool timeSet = false;
  if (matches) {
    if (const SystemError failed = work.KeepTime(entry, file, &timeSet)) {
      file = File();
      return work.Skipped(entry, Step::SetFileStamp, failed);
    }
  }
  if (const SystemError failed = file.Close()) return Stopped(Step::WriteRepaired, failed);
  const bool changed = written || timeSet;
  if (changed) ++work.result.files;
  // Nothing written to a file that matches: told as matching, as a proof is.
  EntryReport& report = work.Report(entry, !matches ? EntryEvent::Mismatch : changed ? EntryEvent::Repaired : EntryEvent::Verified);
  report.blocks = outOfPlace.size();
  report.throughCopy = throughCopy;
  return DoneOutcome();
}

}  // namespace

Outcome RepairPatch(RepairWork& work, const Entry& entry) { return Patch(work, entry, nullptr); }

Outcome RepairCheckedPatch(RepairWork& work, const Entry& entry) {
  return Patch(work, entry, &work.plan.checked[entry.change.checked]);
}
