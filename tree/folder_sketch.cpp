// The elements of a folder's entries and blocks, and the read that gathers a file's checksums.
#include "tree/folder_sketch.h"

#include <algorithm>
#include <new>

#include "core/block.h"
#include "core/folder_test_file.h"

void SketchBatch::Put(uint64_t key, uint64_t value) {
  if (value == 0) return;
  if (keys_.capacity() == 0) {
    keys_.reserve(kElements);
    values_.reserve(kElements);
  }
  keys_.push_back(key);
  values_.push_back(value);
  if (keys_.size() == kElements) Flush();
}

void SketchBatch::Flush() {
  if (subtract_) {
    sketch_.SubtractElements(keys_.data(), values_.data(), keys_.size());
  } else {
    sketch_.AddElements(keys_.data(), values_.data(), keys_.size());
  }
  keys_.clear();
  values_.clear();
}

void SketchEntry(SketchBatch& batch, uint64_t pathHash, std::string_view name, const EntryValue& value,
                 const Hash128* fingerprint, const Hash128* regions, uint64_t regionCount) {
  batch.Put(FolderElementKey(FolderElement::Entry, pathHash, 0), StoreEntryValue(value));
  batch.Put(FolderElementKey(FolderElement::Spelling, pathHash, 0), NameValue(name));
  if (fingerprint == nullptr) return;
  batch.Put(FolderElementKey(FolderElement::Fingerprint, pathHash, 0), FingerprintValue(*fingerprint));
  if (regionCount < 2) return;
  for (uint64_t r = 0; r < regionCount; ++r) {
    batch.Put(FolderElementKey(FolderElement::Fingerprint, pathHash, r + 1), FingerprintValue(regions[r]));
  }
}

void SketchBlocks(SketchBatch& batch, uint64_t pathHash, const uint32_t* checksums, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) batch.Put(FolderElementKey(FolderElement::Block, pathHash, i + 1), checksums[i]);
}

Outcome GatheredChecksums::Fill(Slice& slice) {
  if (const SystemError failed = ReadPadded(file_, slice.offset, slice.bytes, slice.count, slice.blocks * kBlockSize)) {
    return Stopped(readStep_, failed);
  }
  return DoneOutcome();
}

void GatheredChecksums::Work(Slice& slice) { fingerprint_.AddBlocks(slice.bytes, slice.count, slice.checksums); }

Outcome GatheredChecksums::Collect(Slice& slice) {
  try {
    checksums_->insert(checksums_->end(), slice.checksums, slice.checksums + slice.blocks);
  } catch (const std::bad_alloc&) {
    return Stopped(listFull_, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return DoneOutcome();
}

uint64_t PlainFolderTestFileLength(const TreeListing& listing) {
  uint64_t length = kFolderFileHeaderBytes;
  std::vector<std::string_view> folders;
  for (uint32_t i = 0; i < listing.entries.size(); ++i) {
    const ListedEntry& entry = listing.entries[i];
    if (entry.kind == FolderEntryKind::Skipped && !entry.carried) continue;
    length += 3 + listing.Path(i).size();
    switch (entry.kind) {
      case FolderEntryKind::Folder: break;
      case FolderEntryKind::Skipped: length += 1; break;
      case FolderEntryKind::File:
        length += 8 + kHash128Bytes + 4 * BlockCount64(entry.size) + kHash128Bytes * StoredRegionCount(entry.size);
        break;
    }
  }
  return length;
}

std::vector<uint64_t> ListingEntryKeys(const TreeListing& listing) {
  std::vector<uint64_t> keys(listing.entries.size(), 0);
  for (uint32_t i = 0; i < listing.entries.size(); ++i) {
    const ListedEntry& entry = listing.entries[i];
    if (entry.kind == FolderEntryKind::Skipped && !entry.carried) continue;
    keys[i] = FolderElementKey(FolderElement::Entry, FoldedPathHash(listing.Path(i)), 0);
  }
  return keys;
}

bool KeysClash(std::vector<uint64_t> keys) {
  std::sort(keys.begin(), keys.end());
  for (size_t i = 1; i < keys.size(); ++i) {
    if (keys[i] != 0 && keys[i] == keys[i - 1]) return true;
  }
  return false;
}
