// The folder follow-up test file NAME.crc: written by a folder repair whose files still differ
// from their fingerprints, it names those files and, for each, the regions that differ with a
// strong hash of every block of them, so that the valid folder's scan answers with exactly the
// blocks that differ, as a single file's follow-up does (core/test_file.h). Every number is
// little-endian.
//
// Header, 24 bytes: u32 0xFFFFFFFF, "VNDIRFOL", u32 version (1), u64 E (the files listed).
// Then E records, each: u16 L, L bytes of path (UTF-8, '/' between components, relative to the
// folder), u64 size S (the valid file's), u64 region size (FingerprintRegionSize(S)), u32 D (the
// regions listed, 0 to their count; 0 asks for the whole file), then D times: u32 region index
// (ascending, below the region count), and the XXH3-64 (u64) of each of the region size / 4096
// blocks of the region, the file's last block padded with zero bytes, 0 for a block past its end.
// Then 16 bytes: the check, XXH3-128 of every byte before it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/sequential_reader.h"

inline constexpr uint32_t kFolderFollowUpVersion = 1;

struct FollowUpRegion {
  uint32_t index = 0;
  uint64_t hashesAt = 0;  // where its first block's hash is in the file
};

struct FolderFollowUpEntry {
  std::string path;
  uint64_t size = 0;        // S
  uint64_t regionSize = 0;
  std::vector<FollowUpRegion> regions;  // none: the whole file is asked for
};

uint32_t StoreFolderFollowUpHeader(uint8_t* out, uint64_t records);
// A record's path, size, region size and region count (room for 22 + the path's length);
// returns the bytes stored. Each region follows as its u32 index and its block hashes
// (StoreBlockHashes, core/test_file.h).
uint32_t StoreFolderFollowUpRecordStart(uint8_t* out, std::string_view path, uint64_t size, uint32_t regions);

// Reads the whole file through the reader, from its start (whose first 24 bytes, of the
// follow-up's kind, are start): every record and every hash, so that its check is taken over
// all of it. Malformed when a record does not hold (a size above the largest, a region size not
// the rule's, more regions than the file has, indices not ascending, the file shorter than its
// records) or the check does not.
FolderFileVerdict ReadFolderFollowUp(const uint8_t* start, uint64_t length, SequentialReader& reader,
                                     std::vector<FolderFollowUpEntry>* entries);
