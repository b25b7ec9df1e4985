// The compact folder test file NAME.crc and its asking repair file: a sketch (core/sketch.h) over
// every entry of a folder and every block of its files, so that the test file grows with what
// differs between the two folders, not with the folder. Every number is little-endian:
//   0   4   0xFFFFFFFF, the large form's marker
//   4   8   the tag "VNDIRSKT" (core/file_kinds.h)
//   12  4   version, 1
//   16  4   flags, as the plain folder test file's (core/folder_test_file.h)
//   20  8   P, the length of the plain folder test file of the same folder as listed
//   28  4   m, the symbols, at least 1
//   32  4   estimator levels, 32
//   36  4   estimator cells per level, 16
//   40      32 * 16 u16 estimator cells, level by level
//   1064    m symbols of three u64 each (sum, weighted, checked), each below 2^61 - 1
//   end 16  check: XXH3-128 of every byte before it
// Never longer than P: a writer that would make it so writes the plain form, and a reader
// refuses it.
//
// The asking repair file of a folder ("VNDIRASK") is the single file's (core/asking_repair_file.h)
// byte for byte but for its tag and the field at 16, which holds P: its lengths are a compact
// folder test file's, or P itself, which asks for the plain form.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/asking_repair_file.h"
#include "core/fingerprint.h"
#include "core/sketch.h"

inline constexpr uint32_t kCompactFolderVersion = 1;
inline constexpr uint32_t kCompactFolderHeaderBytes = 40;
inline constexpr uint32_t kCompactFolderSymbolsAt = kCompactFolderHeaderBytes + 2 * kEstimatorCells;

// The elements. A key is a kind in its top three bits and 58 bits of a hash of the path with
// letter case folded (as NTFS folds it) and a number, so that a name that differs only in case
// keeps its keys and costs one difference, its spelling.
enum class FolderElement : uint64_t {
  Entry = 1,        // number 0; value: EntryValue
  Spelling = 2,     // number 0; value: a hash of the entry's own name, as spelled
  Fingerprint = 3,  // number 0 the whole file's, r + 1 region r's (files of two regions or more)
  Block = 4,        // number n: block n's checksum
};

// The hash of a path ('/' between names) folded as NTFS folds names, which keys its elements.
uint64_t FoldedPathHash(std::string_view path);
// 1 <= key < 2^61 - 1.
uint64_t FolderElementKey(FolderElement kind, uint64_t pathHash, uint64_t number);
inline FolderElement KindOfKey(uint64_t key) { return static_cast<FolderElement>(key >> 58); }

// Entry values: a folder 1, an entry skipped 1 + its reason (2 to 4), a file 8 + its size.
inline constexpr uint64_t kFolderValue = 1;
inline constexpr uint64_t kFileValueBase = 8;
struct EntryValue {
  uint8_t kind = 0;  // FolderEntryKind
  uint8_t reason = 0;
  uint64_t size = 0;
};
uint64_t StoreEntryValue(const EntryValue& value);
// False for a value no entry has.
bool LoadEntryValue(uint64_t stored, EntryValue* value);
// A hash folded into 1 to 2^61 - 2, the value of a spelling or a fingerprint.
uint64_t HashValue(uint64_t hash);
uint64_t NameValue(std::string_view name);
uint64_t FingerprintValue(const Hash128& fingerprint);

struct CompactFolderHeader {
  uint32_t flags = 0;
  uint64_t plainLength = 0;  // P
  uint32_t symbols = 0;      // m
};

// 1080 + 24 m.
uint64_t CompactFolderLength(uint32_t symbols);
// The symbols of the largest compact folder test file of at most bytes bytes; 0 below 4 KiB.
uint32_t CompactFolderSymbolsForBudget(uint64_t bytes);
// The default: the larger of 64 KiB and P / 256.
uint32_t DefaultCompactFolderSymbols(uint64_t plainLength);

// The whole file.
std::vector<uint8_t> StoreCompactFolderTestFile(const CompactFolderHeader& header, const Sketch& sketch);
// The header from the first min(length, 40) bytes, checked against the length: false unless it
// is one that holds together (tag, version, estimator shape, m from 1, length exactly the
// header's and not above P).
bool ReadCompactFolderHeader(const uint8_t* start, uint64_t length, CompactFolderHeader* header);
// The whole file: false unless the header holds, every symbol field is below 2^61 - 1 and the
// check holds. sketch: the cells and symbols read.
bool ReadCompactFolderTestFile(const uint8_t* bytes, uint64_t length, CompactFolderHeader* header,
                               std::optional<Sketch>* sketch);

// The folder's asking repair file: AskingRepairFile with brokenSize holding P.
void StoreFolderAskingFile(uint8_t* out, const AskingRepairFile& file);
// False unless exactly 80 bytes of this kind and version whose check holds, whose answered
// length is a compact folder test file's not above P and whose asked length is above it and is
// either P or a compact folder test file's below P.
bool ReadFolderAskingFile(const uint8_t* bytes, uint64_t length, AskingRepairFile* file);
// As AskedTestFileLength, for a folder: P where the compact file asked for would not be shorter;
// 0 when the answered file is already P long.
uint64_t FolderAskedLength(uint64_t plainLength, uint64_t answeredLength, double estimate, uint64_t found);
