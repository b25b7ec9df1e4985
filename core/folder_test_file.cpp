// Writing and reading the folder test file's records.
#include "core/folder_test_file.h"

#include <cstring>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/file_kinds.h"

uint64_t StoredRegionCount(uint64_t size) {
  const uint64_t regions = FingerprintRegionCount(size);
  return regions >= 2 ? regions : 0;
}

uint32_t StoreFolderTestHeader(uint8_t* out, uint32_t flags, uint64_t entries) {
  StoreExchangeFileTag(out, ExchangeFileKind::FolderTestFile);
  StoreU32LE(out + 12, flags);
  StoreU64LE(out + 16, entries);
  return kFolderFileHeaderBytes;
}

uint32_t StoreFolderEntryStart(uint8_t* out, FolderEntryKind kind, std::string_view path) {
  out[0] = static_cast<uint8_t>(kind);
  StoreU16LE(out + 1, static_cast<uint16_t>(path.size()));
  std::memcpy(out + 3, path.data(), path.size());
  return static_cast<uint32_t>(3 + path.size());
}

uint32_t StoreFolderFileFields(uint8_t* out, uint64_t size, const Hash128& fingerprint) {
  StoreU64LE(out, size);
  StoreHash128(out + 8, fingerprint);
  return 8 + kHash128Bytes;
}

FolderFileVerdict ReadFolderTestHeader(const uint8_t* start, uint64_t length, FolderTestHeader* header) {
  if (length < kFolderFileHeaderBytes) return FolderFileVerdict::Malformed;
  header->flags = LoadU32LE(start + 12);
  header->entries = LoadU64LE(start + 16);
  // Flags this reader does not know belong to a later form, which it must not misread.
  if ((header->flags & ~kFolderFlagWindowsNames) != 0) return FolderFileVerdict::Malformed;
  return FolderFileVerdict::Read;
}

FolderFileVerdict ReadFolderTestEntry(SequentialReader& reader, FolderTestEntry* entry) {
  uint8_t kind = 0;
  FolderFileVerdict verdict = ReadFolderBytes(reader, &kind, 1);
  if (verdict != FolderFileVerdict::Read) return verdict;
  if ((verdict = ReadFolderName(reader, &entry->path)) != FolderFileVerdict::Read) return verdict;
  switch (static_cast<FolderEntryKind>(kind)) {
    case FolderEntryKind::Folder:
      entry->kind = FolderEntryKind::Folder;
      return FolderFileVerdict::Read;
    case FolderEntryKind::Skipped: {
      entry->kind = FolderEntryKind::Skipped;
      uint8_t reason = 0;
      if ((verdict = ReadFolderBytes(reader, &reason, 1)) != FolderFileVerdict::Read) return verdict;
      if (reason < static_cast<uint8_t>(SkipReason::Link) || reason > static_cast<uint8_t>(SkipReason::Unreadable)) {
        return FolderFileVerdict::Malformed;
      }
      entry->reason = static_cast<SkipReason>(reason);
      return FolderFileVerdict::Read;
    }
    case FolderEntryKind::File: {
      entry->kind = FolderEntryKind::File;
      uint8_t fields[8 + kHash128Bytes];
      if ((verdict = ReadFolderBytes(reader, fields, sizeof fields)) != FolderFileVerdict::Read) return verdict;
      entry->size = LoadU64LE(fields);
      entry->fingerprint = LoadHash128(fields + 8);
      if (entry->size > kLargestExchangedSize) return FolderFileVerdict::Malformed;
      const uint64_t checksumBytes = 4 * BlockCount64(entry->size);
      const uint64_t regionBytes = kHash128Bytes * StoredRegionCount(entry->size);
      if (reader.Left() < checksumBytes + regionBytes) return FolderFileVerdict::Malformed;
      entry->checksumsAt = reader.Offset();
      entry->regionsAt = regionBytes != 0 ? reader.Offset() + checksumBytes : 0;
      reader.Skip(checksumBytes + regionBytes);
      return FolderFileVerdict::Read;
    }
  }
  return FolderFileVerdict::Malformed;
}
