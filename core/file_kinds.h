// What kind of exchange file a file is, from its first bytes. The single-file forms carry no
// tag (their first word is a size, or 0, or the large test file's marker 0xFFFFFFFF followed by
// a size). The later forms start with that marker followed by eight letters of their own: read
// as the large form's 64-bit size they are above the largest exchanged size, so a reader of the
// large form refuses them as malformed instead of misreading them.
#pragma once

#include <cstdint>

enum class ExchangeFileKind {
  Plain,             // a test file or repair file for one file, small or large form
  FollowUpTestFile,  // strong hashes of the blocks of the regions a verified repair found differing
  FolderTestFile,    // a whole folder's files, sizes, block checksums and region fingerprints
  FolderRepairFile,  // what a folder needs: blocks, whole files, folders to create, extra entries
  FolderFollowUp,    // the files of a folder repair that still differ, with strong hashes of their regions' blocks
  CompactTestFile,   // a single file's test file whose size follows the damage: a sketch of its blocks
  AskingRepairFile,  // the valid side's answer to a compact test file it could not decode: a larger one, please
  CompactFolderTestFile,  // a folder's test file whose size follows what differs: a sketch of its entries and blocks
  FolderAskingFile,       // the valid folder's answer to a compact folder test file it could not decode
};

// The marker and the tag: 12 bytes.
inline constexpr uint32_t kTagBytes = 12;

// The kind of a file whose first min(length, 12) bytes are start. Every reader switches over
// it, without a default, so that a new kind is a case the compiler asks each of them for.
ExchangeFileKind ReadExchangeFileKind(const uint8_t* start, uint64_t length);

// Writes the marker and the tag of a tagged kind (not Plain) into out; returns kTagBytes.
uint32_t StoreExchangeFileTag(uint8_t* out, ExchangeFileKind kind);
