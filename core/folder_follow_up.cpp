// Writing and reading the folder follow-up test file.
#include "core/folder_follow_up.h"

#include <algorithm>
#include <cstring>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/file_kinds.h"
#include "core/fingerprint.h"
#include "core/folder_test_file.h"

namespace {

// Reads count bytes and takes them into the check.
FolderFileVerdict ReadChecked(SequentialReader& reader, Hash128Stream& check, void* into, uint32_t count) {
  const FolderFileVerdict verdict = ReadFolderBytes(reader, into, count);
  if (verdict == FolderFileVerdict::Read) check.Add(into, count);
  return verdict;
}

}  // namespace

uint32_t StoreFolderFollowUpHeader(uint8_t* out, uint64_t records) {
  StoreExchangeFileTag(out, ExchangeFileKind::FolderFollowUp);
  StoreU32LE(out + 12, kFolderFollowUpVersion);
  StoreU64LE(out + 16, records);
  return kFolderFileHeaderBytes;
}

uint32_t StoreFolderFollowUpRecordStart(uint8_t* out, std::string_view path, uint64_t size, uint32_t regions) {
  StoreU16LE(out, static_cast<uint16_t>(path.size()));
  std::memcpy(out + 2, path.data(), path.size());
  uint8_t* at = out + 2 + path.size();
  StoreU64LE(at, size);
  StoreU64LE(at + 8, FingerprintRegionSize(size));
  StoreU32LE(at + 16, regions);
  return static_cast<uint32_t>(2 + path.size() + 20);
}

FolderFileVerdict ReadFolderFollowUp(const uint8_t* start, uint64_t length, SequentialReader& reader,
                                     std::vector<FolderFollowUpEntry>* entries) {
  if (length < kFolderFileHeaderBytes + kHash128Bytes || LoadU32LE(start + 12) != kFolderFollowUpVersion) {
    return FolderFileVerdict::Malformed;
  }
  Hash128Stream check;
  check.Add(start, kFolderFileHeaderBytes);
  const uint64_t records = LoadU64LE(start + 16);
  uint8_t piece[65536];
  for (uint64_t r = 0; r < records; ++r) {
    // Each record takes at least 23 bytes: the count cannot promise more than the file holds.
    if (reader.Left() < 23 + kHash128Bytes) return FolderFileVerdict::Malformed;
    FolderFollowUpEntry entry;
    uint8_t length16[2];
    FolderFileVerdict verdict = ReadChecked(reader, check, length16, 2);
    if (verdict != FolderFileVerdict::Read) return verdict;
    const uint32_t pathLength = LoadU16LE(length16);
    if (pathLength == 0) return FolderFileVerdict::Malformed;
    entry.path.resize(pathLength);
    if ((verdict = ReadChecked(reader, check, entry.path.data(), pathLength)) != FolderFileVerdict::Read) return verdict;
    uint8_t fields[20];
    if ((verdict = ReadChecked(reader, check, fields, sizeof fields)) != FolderFileVerdict::Read) return verdict;
    entry.size = LoadU64LE(fields);
    entry.regionSize = LoadU64LE(fields + 8);
    const uint32_t listed = LoadU32LE(fields + 16);
    if (entry.size > kLargestExchangedSize || entry.regionSize != FingerprintRegionSize(entry.size) ||
        listed > FingerprintRegionCount(entry.size)) {
      return FolderFileVerdict::Malformed;
    }
    const uint64_t hashBytes = 8 * (entry.regionSize / kBlockSize);
    if (reader.Left() < uint64_t{listed} * (4 + hashBytes)) return FolderFileVerdict::Malformed;
    for (uint32_t i = 0; i < listed; ++i) {
      uint8_t index[4];
      if ((verdict = ReadChecked(reader, check, index, 4)) != FolderFileVerdict::Read) return verdict;
      FollowUpRegion region{LoadU32LE(index), reader.Offset()};
      if (region.index >= FingerprintRegionCount(entry.size) || (i > 0 && region.index <= entry.regions.back().index)) {
        return FolderFileVerdict::Malformed;
      }
      for (uint64_t done = 0; done < hashBytes;) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(hashBytes - done, sizeof piece));
        if ((verdict = ReadChecked(reader, check, piece, count)) != FolderFileVerdict::Read) return verdict;
        done += count;
      }
      entry.regions.push_back(region);
    }
    entries->push_back(std::move(entry));
  }
  uint8_t stored[kHash128Bytes];
  const FolderFileVerdict verdict = ReadFolderBytes(reader, stored, sizeof stored);
  if (verdict != FolderFileVerdict::Read) return verdict;
  return reader.Left() == 0 && LoadHash128(stored) == check.Digest() ? FolderFileVerdict::Read : FolderFileVerdict::Malformed;
}
