// The reparse tags by what they make of an entry.
#include "core/reparse_points.h"

namespace {

// The bit Windows sets in the tag of every name surrogate (IsReparseTagNameSurrogate).
constexpr uint32_t kNameSurrogateBit = 0x20000000;
// Cloud files have sixteen tags, 0x9000001A and 0x9000101A to 0x9000F01A: the provider's own
// number sits in bits 12 to 15.
constexpr uint32_t kCloudMask = 0xFFFF0FFF;
constexpr uint32_t kCloud = 0x9000001A;
constexpr uint32_t kWof = 0x80000017;
constexpr uint32_t kDedup = 0x80000013;
constexpr uint32_t kAfUnix = 0x80000023;
constexpr uint32_t kLxFifo = 0x80000024;
constexpr uint32_t kLxChr = 0x80000025;
constexpr uint32_t kLxBlk = 0x80000026;

}  // namespace

ReparseKind KindOfReparseTag(uint32_t tag) {
  if ((tag & kNameSurrogateBit) != 0) return ReparseKind::Link;
  if ((tag & kCloudMask) == kCloud || tag == kWof || tag == kDedup) return ReparseKind::Plain;
  if (tag == kAfUnix || tag == kLxFifo || tag == kLxChr || tag == kLxBlk) return ReparseKind::NotRegular;
  return ReparseKind::Unknown;
}

bool FetchedWhenRead(uint32_t attributes) {
  return (attributes & (kAttributeRecallOnOpen | kAttributeRecallOnDataAccess | kAttributeOffline)) != 0;
}

bool SameEntryThroughFilter(const EntryIdentity& listed, const EntryIdentity& reopened) {
  if (listed.volume != reopened.volume || listed.fileIdHigh != reopened.fileIdHigh || listed.fileIdLow != reopened.fileIdLow) {
    return false;
  }
  if ((reopened.attributes & kAttributeReparsePoint) == 0) return true;
  return KindOfReparseTag(reopened.tag) == ReparseKind::Plain;
}
