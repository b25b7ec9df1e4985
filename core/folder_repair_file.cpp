// Writing and reading the folder repair file's records.
#include "core/folder_repair_file.h"

#include "core/block.h"
#include "core/byte_order.h"
#include "core/exchange_rules.h"
#include "core/file_kinds.h"
#include "core/folder_test_file.h"

namespace {

// The patch's block numbers, read a few at a time: strictly ascending, each a block of S.
FolderFileVerdict CheckBlockNumbers(SequentialReader& reader, const FolderRepairRecord& record) {
  const uint64_t blocks = BlockCount64(record.validSize);
  uint8_t numbers[4 * 256];
  uint64_t previous = 0;
  for (uint32_t done = 0; done < record.blockCount;) {
    const uint32_t count = record.blockCount - done < 256 ? record.blockCount - done : 256;
    const FolderFileVerdict verdict = ReadFolderBytes(reader, numbers, 4 * count);
    if (verdict != FolderFileVerdict::Read) return verdict;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t number = LoadU32LE(numbers + 4 * i);
      if (!BlockNumberFits(number, blocks) || number <= previous) return FolderFileVerdict::Malformed;
      previous = number;
    }
    done += count;
  }
  return FolderFileVerdict::Read;
}

FolderFileVerdict ReadFileFields(SequentialReader& reader, FolderRepairRecord* record) {
  uint8_t fields[8 + kHash128Bytes];
  const FolderFileVerdict verdict = ReadFolderBytes(reader, fields, sizeof fields);
  if (verdict != FolderFileVerdict::Read) return verdict;
  record->validSize = LoadU64LE(fields);
  record->fingerprint = LoadHash128(fields + 8);
  return record->validSize > kLargestExchangedSize ? FolderFileVerdict::Malformed : FolderFileVerdict::Read;
}

// The stamp behind a whole file's or a checked patch's fingerprint, where the header says the
// records carry one: bits that travel only, nanoseconds below a second.
FolderFileVerdict ReadStamp(SequentialReader& reader, const FolderRepairHeader& header, FolderRepairRecord* record) {
  record->stamped = (header.flags & kFolderRepairFlagStamps) != 0;
  if (!record->stamped) return FolderFileVerdict::Read;
  uint8_t fields[kFolderFileStampBytes];
  const FolderFileVerdict verdict = ReadFolderBytes(reader, fields, sizeof fields);
  if (verdict != FolderFileVerdict::Read) return verdict;
  FileStamp& stamp = record->stamp;
  stamp.permissions = LoadU32LE(fields);
  stamp.seconds = static_cast<int64_t>(LoadU64LE(fields + 4));
  stamp.nanoseconds = LoadU32LE(fields + 12);
  const bool bits = stamp.permissions == kNoPermissions || (stamp.permissions & ~kCarriedPermissions) == 0;
  return bits && stamp.nanoseconds < kNanosecondsPerSecond ? FolderFileVerdict::Read : FolderFileVerdict::Malformed;
}

FolderFileVerdict ReadSkippedThere(SequentialReader& reader, FolderRepairRecord* record) {
  uint8_t fields[2];
  const FolderFileVerdict verdict = ReadFolderBytes(reader, fields, sizeof fields);
  if (verdict != FolderFileVerdict::Read) return verdict;
  const bool kind = fields[0] == static_cast<uint8_t>(FolderEntryKind::Folder) || fields[0] == static_cast<uint8_t>(FolderEntryKind::File);
  const bool reason = fields[1] == static_cast<uint8_t>(SkipReason::Link) || fields[1] == static_cast<uint8_t>(SkipReason::NotRegular);
  if (!kind || !reason) return FolderFileVerdict::Malformed;
  record->validKind = static_cast<FolderEntryKind>(fields[0]);
  record->brokenReason = static_cast<SkipReason>(fields[1]);
  return FolderFileVerdict::Read;
}

}  // namespace

uint32_t StoreFolderRepairHeader(uint8_t* out, uint64_t records) {
  StoreExchangeFileTag(out, ExchangeFileKind::FolderRepairFile);
  StoreU32LE(out + 12, kFolderRepairFlagStamps);
  StoreU64LE(out + 16, records);
  return kFolderFileHeaderBytes;
}

uint32_t StoreFolderFileStamp(uint8_t* out, const FileStamp& stamp) {
  StoreU32LE(out, stamp.permissions);
  StoreU64LE(out + 4, static_cast<uint64_t>(stamp.seconds));
  StoreU32LE(out + 12, stamp.nanoseconds);
  return kFolderFileStampBytes;
}

uint32_t StoreSkippedThereFields(uint8_t* out, FolderEntryKind validKind, SkipReason brokenReason) {
  out[0] = static_cast<uint8_t>(validKind);
  out[1] = static_cast<uint8_t>(brokenReason);
  return 2;
}

uint32_t StoreFolderRecordStart(uint8_t* out, FolderAction action, std::string_view path) {
  // A record starts as a test file's entry does, with the action in the kind's place.
  return StoreFolderEntryStart(out, static_cast<FolderEntryKind>(action), path);
}

FolderFileVerdict ReadFolderRepairHeader(const uint8_t* start, uint64_t length, FolderRepairHeader* header) {
  if (length < kFolderFileHeaderBytes) return FolderFileVerdict::Malformed;
  header->flags = LoadU32LE(start + 12);
  header->records = LoadU64LE(start + 16);
  return (header->flags & ~kFolderRepairFlagStamps) == 0 ? FolderFileVerdict::Read : FolderFileVerdict::Malformed;
}

FolderFileVerdict ReadFolderRepairRecord(SequentialReader& reader, const FolderRepairHeader& header,
                                         FolderRepairRecord* record) {
  uint8_t action = 0;
  FolderFileVerdict verdict = ReadFolderBytes(reader, &action, 1);
  if (verdict != FolderFileVerdict::Read) return verdict;
  if ((verdict = ReadFolderName(reader, &record->path)) != FolderFileVerdict::Read) return verdict;
  record->action = static_cast<FolderAction>(action);
  record->stamped = false;
  switch (record->action) {
    case FolderAction::CreateFolder:
    case FolderAction::ExtraFile:
    case FolderAction::ExtraFolder:
      return FolderFileVerdict::Read;
    case FolderAction::Rename:
      return ReadFolderName(reader, &record->oldName);
    case FolderAction::Patch: {
      if ((verdict = ReadFileFields(reader, record)) != FolderFileVerdict::Read) return verdict;
      if ((verdict = ReadFolderU32(reader, &record->blockCount)) != FolderFileVerdict::Read) return verdict;
      // In 64 bits: K may be anything up to 0xFFFFFFFF.
      if (reader.Left() < uint64_t{record->blockCount} * (4 + kBlockSize)) return FolderFileVerdict::Malformed;
      record->blockNumbersAt = reader.Offset();
      if ((verdict = CheckBlockNumbers(reader, *record)) != FolderFileVerdict::Read) return verdict;
      record->dataAt = reader.Offset();
      reader.Skip(uint64_t{record->blockCount} * kBlockSize);
      return FolderFileVerdict::Read;
    }
    case FolderAction::CheckedPatch: {
      if ((verdict = ReadFileFields(reader, record)) != FolderFileVerdict::Read) return verdict;
      if ((verdict = ReadStamp(reader, header, record)) != FolderFileVerdict::Read) return verdict;
      uint8_t fields[kOriginFieldBytes];
      if ((verdict = ReadFolderBytes(reader, fields, sizeof fields)) != FolderFileVerdict::Read) return verdict;
      if (!LoadOriginFields(fields, record->validSize, LoadU32LE(fields + 16), &record->origin)) {
        return FolderFileVerdict::Malformed;
      }
      record->blockCount = record->origin.carried;
      // In 64 bits: K may be anything up to 0xFFFFFFFF.
      const uint64_t regionBytes = kHash128Bytes * StoredRegionCount(record->validSize);
      if (reader.Left() < uint64_t{record->blockCount} * (4 + kBlockSize) + OriginListBytes(record->origin) + regionBytes) {
        return FolderFileVerdict::Malformed;
      }
      record->blockNumbersAt = reader.Offset();
      if ((verdict = CheckBlockNumbers(reader, *record)) != FolderFileVerdict::Read) return verdict;
      record->valuesAt = reader.Offset();
      reader.Skip(4 * uint64_t{record->blockCount});
      record->samplesAt = reader.Offset();
      if ((verdict = ReadFolderBytes(reader, record->samples, kOriginSampleBytes * record->origin.samples)) !=
          FolderFileVerdict::Read) {
        return verdict;
      }
      if (!OriginSamplesHold(record->samples, record->origin, record->validSize)) return FolderFileVerdict::Malformed;
      record->regionsAt = regionBytes != 0 ? reader.Offset() : 0;
      reader.Skip(regionBytes);
      record->dataAt = reader.Offset();
      reader.Skip(uint64_t{record->blockCount} * kBlockSize);
      return FolderFileVerdict::Read;
    }
    case FolderAction::WholeFile:
      if ((verdict = ReadFileFields(reader, record)) != FolderFileVerdict::Read) return verdict;
      if ((verdict = ReadStamp(reader, header, record)) != FolderFileVerdict::Read) return verdict;
      if (reader.Left() < record->validSize) return FolderFileVerdict::Malformed;
      record->dataAt = reader.Offset();
      reader.Skip(record->validSize);
      return FolderFileVerdict::Read;
    case FolderAction::SkippedThere:
      return ReadSkippedThere(reader, record);
  }
  return FolderFileVerdict::Malformed;
}
