// The folder test file NAME.crc: the test file of a whole folder, one record per entry below
// it. Every number is little-endian; fingerprints are stored as fingerprint.h stores them.
//
// Header, 24 bytes: u32 0xFFFFFFFF, "VNDIRCRC", u32 flags, u64 E (the number of entries).
// Then E entries, each: u8 kind, u16 L, L bytes of path (UTF-8, '/' between components,
// relative to the folder), then by kind:
//   folder  (1): nothing;
//   file    (2): u64 size B, 16 bytes fingerprint, ceil(B / 4096) u32 block checksums, then
//                the region fingerprints (16 bytes each) when the file has two regions or more;
//   skipped (3): u8 reason.
// Every entry's folder comes before it; the file ends with the last entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/fingerprint.h"
#include "core/sequential_reader.h"

inline constexpr uint32_t kFolderFileHeaderBytes = 24;
// flags: the scanned folder's file system follows Windows' names: it ignores letter case and
// takes no reserved device names and no names ending in a dot or a space.
inline constexpr uint32_t kFolderFlagWindowsNames = 1;
inline constexpr uint32_t kLongestFolderPath = 0xFFFF;

enum class FolderEntryKind : uint8_t { Folder = 1, File = 2, Skipped = 3 };

// Why an entry is listed rather than described.
enum class SkipReason : uint8_t {
  Link = 1,        // a symbolic link, junction or other reparse point
  NotRegular = 2,  // a device, pipe or socket
  Unreadable = 3,  // it could not be opened or read
};

struct FolderTestHeader {
  uint32_t flags = 0;
  uint64_t entries = 0;
};

struct FolderTestEntry {
  FolderEntryKind kind = FolderEntryKind::Folder;
  std::string path;
  uint64_t size = 0;            // file: B
  Hash128 fingerprint;          // file
  uint64_t checksumsAt = 0;     // file: where its first block checksum is in the test file
  uint64_t regionsAt = 0;       // file of two regions or more: where its region fingerprints are
  SkipReason reason = SkipReason::Link;
};

// Number of region fingerprints a file entry of this size carries: none for one region.
uint64_t StoredRegionCount(uint64_t size);

uint32_t StoreFolderTestHeader(uint8_t* out, uint32_t flags, uint64_t entries);
// Kind, path length and path; returns the bytes stored (3 + path's length).
uint32_t StoreFolderEntryStart(uint8_t* out, FolderEntryKind kind, std::string_view path);
// A file's size and fingerprint behind its start, in both folder files; returns 24.
uint32_t StoreFolderFileFields(uint8_t* out, uint64_t size, const Hash128& fingerprint);

// From the file's first min(length, 24) bytes: the tag is the caller's to have checked.
FolderFileVerdict ReadFolderTestHeader(const uint8_t* start, uint64_t length, FolderTestHeader* header);
// The entry at the reader's place, leaving the place behind it.
FolderFileVerdict ReadFolderTestEntry(SequentialReader& reader, FolderTestEntry* entry);
