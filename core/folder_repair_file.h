// The folder repair file NAME.fix: what a folder needs to equal the valid one, as records
// applied in order. Every number is little-endian; fingerprints as fingerprint.h stores them.
//
// Header, 24 bytes: u32 0xFFFFFFFF, "VNDIRFIX", u32 flags, u64 E (the number of records). Flags:
// bit 0 (kFolderRepairFlagStamps), set by this version, says that every whole file and checked
// patch carries its file's stamp behind its fingerprint: u32 permission bits (0 to 0777, or
// 0xFFFFFFFF where the valid side keeps none), i64 seconds and u32 nanoseconds of its
// modification time (core/file_stamp.h); a file without the bit (older versions) carries none.
// Other bits are 0.
// Then E records, each: u8 action, u16 L, L bytes of path (UTF-8, '/' between components,
// relative to the folder), then by action:
//   create folder (1): nothing;
//   rename        (2): u16 M, M bytes: the entry's name now, in the same folder, which
//                      differs from the path's last name only in letter case;
//   patch file    (3): u64 size S, 16 bytes fingerprint, u32 K, K u32 block numbers (strictly
//                      ascending, 1 to ceil(S / 4096)), then K blocks of 4096 bytes, a partial
//                      last block padded with zero bytes;
//   whole file    (4): u64 size S, 16 bytes fingerprint, [the stamp,] then the S bytes of the file;
//   extra file    (5), extra folder (6): nothing; the entry is only in the broken folder;
//   checked patch (7): u64 size S, 16 bytes fingerprint, [the stamp,] the 24 bytes of the record of the
//                      broken file (core/repair_origin.h: B, T, how, K, M), K block numbers as
//                      in a patch, K values, M samples, the region fingerprints (16 bytes each)
//                      when the file has two regions or more, then the K blocks: a patch that
//                      the repair checks against the file before its first write, and whose
//                      regions a follow-up can name. A reader that knows actions 1 to 6 only
//                      refuses the whole file, nothing written;
//   skipped there (8): u8 what the valid folder has at the path (1 folder, 2 file), u8 what
//                      the broken folder's scan found there instead (the test file's reasons:
//                      1 a link, 2 a device, pipe or socket): nothing is carried, and the repair
//                      names the entry. A reader that knows actions 1 to 7 only refuses the
//                      whole file, and so does one that knows no flags.
// The file ends with the last record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/file_stamp.h"
#include "core/fingerprint.h"
#include "core/folder_test_file.h"
#include "core/repair_origin.h"
#include "core/sequential_reader.h"

enum class FolderAction : uint8_t {
  CreateFolder = 1,
  Rename = 2,
  Patch = 3,
  WholeFile = 4,
  ExtraFile = 5,
  ExtraFolder = 6,
  CheckedPatch = 7,
  SkippedThere = 8,
};

// flags: the file records carry their files' stamps.
inline constexpr uint32_t kFolderRepairFlagStamps = 1;
inline constexpr uint32_t kFolderFileStampBytes = 16;

struct FolderRepairHeader {
  uint32_t flags = 0;
  uint64_t records = 0;
};

struct FolderRepairRecord {
  FolderAction action = FolderAction::CreateFolder;
  std::string path;
  std::string oldName;        // rename
  uint64_t validSize = 0;     // patch, whole file: S
  Hash128 fingerprint;        // patch, whole file
  uint32_t blockCount = 0;    // patch: K
  uint64_t blockNumbersAt = 0;  // patch: where its numbers are in the repair file
  uint64_t dataAt = 0;        // patch: its first block; whole file: its first byte
  // Checked patch: the record of the broken file, where its values are, and its samples, read.
  RepairOrigin origin;
  uint64_t valuesAt = 0;
  uint64_t samplesAt = 0;
  uint64_t regionsAt = 0;     // its region fingerprints, when it has two regions or more
  uint8_t samples[kMostSampledBlocks * kOriginSampleBytes] = {};
  // Whole file, checked patch: the valid file's stamp, when the header says the records carry one.
  bool stamped = false;
  FileStamp stamp;
  // Skipped there: what the valid folder has, and why the broken folder's scan skipped its entry.
  FolderEntryKind validKind = FolderEntryKind::File;
  SkipReason brokenReason = SkipReason::Link;
};

// With the flags of this version: the file records carry their stamps.
uint32_t StoreFolderRepairHeader(uint8_t* out, uint64_t records);
// Action, path length and path; returns the bytes stored (3 + path's length).
uint32_t StoreFolderRecordStart(uint8_t* out, FolderAction action, std::string_view path);
// A patch's or a whole file's size and fingerprint are stored by StoreFolderFileFields, the
// stamp behind them by StoreFolderFileStamp; a checked patch's record behind that by
// StoreOriginFields. Returns kFolderFileStampBytes.
uint32_t StoreFolderFileStamp(uint8_t* out, const FileStamp& stamp);
// A skipped-there record's two bytes behind its start; returns 2.
uint32_t StoreSkippedThereFields(uint8_t* out, FolderEntryKind validKind, SkipReason brokenReason);

FolderFileVerdict ReadFolderRepairHeader(const uint8_t* start, uint64_t length, FolderRepairHeader* header);
// The record at the reader's place, checked as far as it stands alone (a patch's block
// numbers are read and checked too), leaving the place behind it.
FolderFileVerdict ReadFolderRepairRecord(SequentialReader& reader, const FolderRepairHeader& header,
                                         FolderRepairRecord* record);
