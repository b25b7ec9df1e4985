// What a Windows reparse point is, from its tag, and whether an entry opened again without
// opening reparse points as themselves is still the entry that was listed: the folder code of
// the Windows backend asks, this decides. The tags are the system's published values.
#pragma once

#include <cstdint>

enum class ReparseKind : uint8_t {
  Link,        // a name surrogate (symbolic link, junction, mount point): it names something else
  Plain,       // the file or folder itself, kept by a filter: cloud files, system compression, deduplication
  NotRegular,  // a socket or a device or pipe of the Linux subsystem
  Unknown,     // any other tag: skipped, as a link is
};

ReparseKind KindOfReparseTag(uint32_t tag);

// Attributes of an entry that a filter keeps elsewhere: reading it fetches its data first
// (a cloud file that is only in the cloud).
inline constexpr uint32_t kAttributeRecallOnOpen = 0x00040000;
inline constexpr uint32_t kAttributeRecallOnDataAccess = 0x00400000;
inline constexpr uint32_t kAttributeOffline = 0x00001000;
inline constexpr uint32_t kAttributeReparsePoint = 0x00000400;
bool FetchedWhenRead(uint32_t attributes);

// An entry as a handle shows it: which file it is on its volume, and its reparse point.
struct EntryIdentity {
  uint64_t volume = 0;
  uint64_t fileIdHigh = 0;
  uint64_t fileIdLow = 0;
  uint32_t attributes = 0;
  uint32_t tag = 0;  // when attributes carry the reparse point
};

// Whether the entry opened again through its filter is the one listed, whose tag is of the
// Plain kind: the same file of the same volume, and no name surrogate in between. Its tag may
// be gone (a file just decompressed) but not turned into another kind.
bool SameEntryThroughFilter(const EntryIdentity& listed, const EntryIdentity& reopened);
