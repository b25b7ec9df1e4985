// The test file NAME.crc: its forms, how a header is written and how a file is read back.
// Every number is little-endian.
//
// Small form, for a broken file of fewer than 2^32 bytes: u32 B, then one u32 checksum per
// block of the broken file; 4 + 4 * BlockCount(B) bytes.
// Large form, for 2^32 bytes and more: u32 0xFFFFFFFF, u64 B, then BlockCount(B) checksums;
// 12 + 4 * BlockCount(B) bytes. No small-form file records 0xFFFFFFFF, so the first word
// tells the two apart.
#pragma once

#include <cstdint>

#include "core/block.h"

enum class TestFileForm { Small, Large };

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
