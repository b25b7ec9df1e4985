// The test file NAME.crc: its forms, how a header is written and how a file is read back.
// Every number is little-endian.
//
// Small form, for a broken file of fewer than 2^32 bytes: u32 B, then one u32 checksum per
// block of the broken file; 4 + 4 * BlockCount(B) bytes.
// Large form, for 2^32 bytes and more: u32 0xFFFFFFFF, u64 B, then BlockCount(B) checksums;
// 12 + 4 * BlockCount(B) bytes. No small-form file records 0xFFFFFFFF, so the first word
// tells the two apart.
// Follow-up form, written by a repair whose result still differs from the valid file's
// fingerprint, for the regions that differ (see below); only the streaming valid-file scan
// answers it, and every other reader refuses it.
#pragma once

#include <cstdint>

#include "core/block.h"
#include "core/fingerprint.h"

enum class TestFileForm { Small, Large, FollowUp };

inline constexpr uint32_t kTestFileHeaderBytes = 4;
inline constexpr uint32_t kLargeTestFileHeaderBytes = 12;
// Room for the header of any form.
inline constexpr uint32_t kLongestTestFileHeader = kLargeTestFileHeaderBytes;
inline constexpr uint32_t kLargeTestFileMarker = 0xFFFFFFFF;

// Whether a broken file of this size can have a test file at all: not above the largest
// exchanged size, and not exactly 0xFFFFFFFF, the large form's marker.
bool TestFileCanRecord(uint64_t brokenSize);
TestFileForm TestFileFormFor(uint64_t brokenSize);
uint32_t TestFileHeaderBytes(TestFileForm form);

// The header of the test file for a broken file of this size, in out (room for
// kLongestTestFileHeader bytes); returns its length.
uint32_t StoreTestFileHeader(uint8_t* out, uint64_t brokenSize);
uint64_t TestFileLength(uint64_t brokenSize);

// A test file as it is read, from its length and its first bytes.
struct TestFileLayout {
  TestFileForm form = TestFileForm::Small;
  uint64_t recordedSize = 0;  // B
  uint64_t entries = 0;       // E: whole entries
  uint32_t trailingBytes = 0; // small form: 1 to 3 bytes of a last, partial entry
  uint32_t headerBytes = kTestFileHeaderBytes;
};

enum class TestFileVerdict {
  Read,
  TooShort,        // fewer than 4 bytes: describes more blocks than any file has
  LargeMalformed,  // the large form's marker, but a header or a length that do not fit it
};

// The whole entries of a test file of length bytes read in the small form: (length - 4) / 4,
// or more than any file has blocks when the file has no room even for its size field.
uint64_t SmallTestFileEntries(uint64_t length);

// Reads the layout of a test file of length bytes whose first min(length, 12) bytes are
// start. largeAllowed: the reader knows the large form (a valid file of 2^32 bytes or more);
// otherwise every file is read in the small form, as the dialog's scan reads it. A large form
// refused still has recordedSize filled in as far as the header holds it.
TestFileVerdict ReadTestFileLayout(const uint8_t* start, uint64_t length, bool largeAllowed, TestFileLayout* layout);

// Whether a file read as Read is exactly the test file of the size it records: one whole
// entry per block, nothing more and nothing less.
bool TestFileIsExact(const TestFileLayout& layout);

// The checksum entry of block b (1-based) from the bytes of the entry area: entries past
// the file's end read as 0, and the bytes of a partial last entry are its low-order bytes.
// entryBytes: the entry area's length in the file (length - header).
uint32_t TestFileEntry(const uint8_t* entry, uint64_t b, uint64_t entryBytes);

// The follow-up form, for a file of S bytes whose regions (core/fingerprint.h) D of them differ:
//   0   4   0xFFFFFFFF, the large form's marker
//   4   8   the tag "VNFOLLOW" (core/file_kinds.h): as the large form's size, too large
//   12  4   version, 1 or 2
//   16  8   S
//   24  8   region size, FingerprintRegionSize(S)
//   32  4   D, 1 to the region count
//   36  16  version 2: the check (last 16 bytes) of the repair file's fingerprint part it
//           follows, which names that repair file
//   52  16  version 2: the XXH3-128 of the test file that repair file answered
//   36/68   D records, one per region in ascending order: u32 region index (from 0), then the
//           XXH3-64 of each of the region size / 4096 blocks of the region (4096 bytes each,
//           the file's last block padded with zero bytes; 0 for a block past the file's end)
//   end 16  check: XXH3-128 of every byte before it
// The valid-file scan answers it with a repair file of exactly the blocks whose XXH3-64
// differs, and a fingerprint of the listed regions.
inline constexpr uint32_t kFollowUpHeaderBytes = 36;
inline constexpr uint32_t kFollowUpVersion = 1;
inline constexpr uint32_t kFollowUpFollowsVersion = 2;
// Room for the header of either version.
inline constexpr uint32_t kLongestFollowUpHeader = kFollowUpHeaderBytes + 2 * kHash128Bytes;
inline constexpr uint32_t kFollowUpCheckBytes = 16;

// The repair file a follow-up follows: its fingerprint part's check, and the test file it
// answered (RepairAnswers::testFile), which the answer to the follow-up names in turn.
struct FollowedRepair {
  Hash128 repairFile;
  Hash128 testFile;
};

struct FollowUpLayout {
  uint64_t size = 0;        // S
  uint64_t regionSize = 0;
  uint64_t regionCount = 0;  // of the file
  uint64_t regions = 0;      // D, listed
  uint32_t headerBytes = kFollowUpHeaderBytes;  // where the records begin
  bool hasFollowed = false;  // version 2
  FollowedRepair followed;
  uint64_t BlocksPerRecord() const { return regionSize / kBlockSize; }
  uint64_t RecordBytes() const { return 4 + 8 * BlocksPerRecord(); }
};

// followed: the repair file it follows, for version 2; null for version 1.
FollowUpLayout FollowUpLayoutFor(uint64_t size, uint64_t regions, const FollowedRepair* followed = nullptr);
uint64_t FollowUpLength(const FollowUpLayout& layout);
// Writes the header of a follow-up as laid out; returns its length.
uint32_t StoreFollowUpHeader(uint8_t* out, const FollowUpLayout& layout);
// The XXH3-64 of each of blocks whole blocks of bytes, stored little-endian in out.
void StoreBlockHashes(uint8_t* out, const uint8_t* bytes, uint32_t blocks);

// Reads the header from the file's first min(length, kLongestFollowUpHeader) bytes, whose kind
// is already known to be a follow-up, and checks it against the file's length. Records and the check are read as
// the scan goes.
bool ReadFollowUpLayout(const uint8_t* start, uint64_t length, FollowUpLayout* layout);
