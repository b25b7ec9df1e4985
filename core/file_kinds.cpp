// The tags of the exchange files' later forms.
#include "core/file_kinds.h"

#include <cstring>

#include "core/byte_order.h"
#include "core/test_file.h"

namespace {

struct Tag {
  ExchangeFileKind kind;
  char letters[8];
};

// Each has a letter in its last two bytes, so read as a little-endian size it is at least
// 2^48, above the largest exchanged size (about 2^44).
constexpr Tag kTags[] = {
    {ExchangeFileKind::FollowUpTestFile, {'V', 'N', 'F', 'O', 'L', 'L', 'O', 'W'}},
    {ExchangeFileKind::FolderTestFile, {'V', 'N', 'D', 'I', 'R', 'C', 'R', 'C'}},
    {ExchangeFileKind::FolderRepairFile, {'V', 'N', 'D', 'I', 'R', 'F', 'I', 'X'}},
    {ExchangeFileKind::FolderFollowUp, {'V', 'N', 'D', 'I', 'R', 'F', 'O', 'L'}},
    {ExchangeFileKind::CompactTestFile, {'V', 'N', 'S', 'K', 'E', 'T', 'C', 'H'}},
    {ExchangeFileKind::AskingRepairFile, {'V', 'N', 'A', 'S', 'K', 'I', 'N', 'G'}},
    {ExchangeFileKind::CompactFolderTestFile, {'V', 'N', 'D', 'I', 'R', 'S', 'K', 'T'}},
    {ExchangeFileKind::FolderAskingFile, {'V', 'N', 'D', 'I', 'R', 'A', 'S', 'K'}},
};

}  // namespace

ExchangeFileKind ReadExchangeFileKind(const uint8_t* start, uint64_t length) {
  if (length < kTagBytes || LoadU32LE(start) != kLargeTestFileMarker) return ExchangeFileKind::Plain;
  for (const Tag& tag : kTags) {
    if (std::memcmp(start + 4, tag.letters, sizeof tag.letters) == 0) return tag.kind;
  }
  return ExchangeFileKind::Plain;
}

uint32_t StoreExchangeFileTag(uint8_t* out, ExchangeFileKind kind) {
  StoreU32LE(out, kLargeTestFileMarker);
  for (const Tag& tag : kTags) {
    if (tag.kind == kind) std::memcpy(out + 4, tag.letters, sizeof tag.letters);
  }
  return kTagBytes;
}
