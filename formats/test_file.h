// The test file NAME.crc: its layout, how it is written and how it is read back. Every
// number is little-endian.
//
// Small form, for a broken file of fewer than 2^32 bytes: u32 B, then one u32 checksum per
// block of the broken file; 4 + 4 * BlockCount(B) bytes.
// Large form, for 2^32 bytes and more: u32 0xFFFFFFFF, u64 B, then BlockCount(B) checksums;
// 12 + 4 * BlockCount(B) bytes. No small-form file records 0xFFFFFFFF, so the first word
// tells the two apart.
#pragma once

#include <cstdint>

#include "engine/block.h"

inline constexpr uint32_t kTestFileHeaderBytes = 4;
inline constexpr uint32_t kLargeTestFileHeaderBytes = 12;
inline constexpr uint32_t kLargeTestFileMarker = 0xFFFFFFFF;

// Block numbers are 32-bit, so no file of more blocks than that can be exchanged.
inline constexpr uint64_t kLargestExchangedSize = uint64_t{0xFFFFFFFF} * kBlockSize;
// The first size that needs the large forms.
inline constexpr uint64_t kLargeFormSize = uint64_t{1} << 32;

// Whether a broken file of this size can have a test file at all: not above the largest
// exchanged size, and not exactly 0xFFFFFFFF, the large form's marker.
bool TestFileCanRecord(uint64_t brokenSize);

// The header of the test file for a broken file of this size, in out (room for 12 bytes);
// returns its length, 4 or 12.
uint32_t StoreTestFileHeader(uint8_t* out, uint64_t brokenSize);
uint64_t TestFileLength(uint64_t brokenSize);

// A test file as the valid-file scan reads it, from its length and its first bytes.
struct TestFileLayout {
  bool large = false;
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

// Reads the layout of a test file of length bytes whose first min(length, 12) bytes are
// start. largeAllowed: the reader knows the large form (a valid file of 2^32 bytes or more);
// otherwise every file is read in the small form, as the dialog's scan reads it.
TestFileVerdict ReadTestFileLayout(const uint8_t* start, uint64_t length, bool largeAllowed, TestFileLayout* layout);

// The checksum entry of block b (1-based) from the bytes of the entry area: entries past
// the file's end read as 0, and the bytes of a partial last entry are its low-order bytes.
// entryBytes: the entry area's length in the file (length - header).
uint32_t TestFileEntry(const uint8_t* entry, uint64_t b, uint64_t entryBytes);
