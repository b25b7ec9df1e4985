// Reading a folder test file's records into the index.
#include "tree/test_index.h"

#include <algorithm>
#include <new>

#include "stream/steps.h"
#include "tree/names.h"

namespace {

Outcome Malformed() { return Refused(Step::CheckFolderTestFile); }

}  // namespace

std::vector<uint32_t> TestIndex::EntriesOf(uint32_t folder) const {
  const auto first = std::lower_bound(byFolder.begin(), byFolder.end(), folder,
                                      [this](uint32_t entry, uint32_t key) { return entries[entry].parent < key; });
  const auto last = std::upper_bound(first, byFolder.end(), folder,
                                     [this](uint32_t key, uint32_t entry) { return key < entries[entry].parent; });
  return std::vector<uint32_t>(first, last);
}

Outcome ReadTestIndex(FileReader& reader, const FolderTestHeader& header, TestIndex* index) {
  try {
    index->windowsNames = (header.flags & kFolderFlagWindowsNames) != 0;
    FolderTestEntry entry;
    TreePath parsed;
    // No more entries than the file has room for, so that the count cannot reserve memory
    // the file does not back.
    if (header.entries > reader.Left() / 4 || header.entries >= kTopFolder) return Malformed();
    index->entries.reserve(header.entries);
    for (uint64_t i = 0; i < header.entries; ++i) {
      const FolderFileVerdict verdict = ReadFolderTestEntry(reader, &entry);
      if (verdict == FolderFileVerdict::ReadFailed) return Stopped(Step::ReadTest, reader.failure());
      if (verdict == FolderFileVerdict::Malformed) return Malformed();
      if (ParseTreePath(entry.path, PortableNameRules(), &parsed) != NameFault::None) return Malformed();
      IndexedEntry indexed;
      indexed.pathAt = index->paths.size();
      indexed.pathLength = static_cast<uint16_t>(entry.path.size());
      indexed.nameLength = static_cast<uint16_t>(parsed.components.back().size());
      indexed.kind = entry.kind;
      indexed.reason = entry.reason;
      indexed.size = entry.size;
      indexed.fingerprint = entry.fingerprint;
      indexed.checksumsAt = entry.checksumsAt;
      indexed.regionsAt = entry.regionsAt;
      index->paths += entry.path;
      index->entries.push_back(indexed);
    }
    if (reader.Left() != 0) return Malformed();

    // Each entry's folder: found among the entries by its path, which must be a folder's and
    // come before it; no path twice.
    const uint32_t count = static_cast<uint32_t>(index->entries.size());
    std::vector<uint32_t> byPath(count);
    for (uint32_t i = 0; i < count; ++i) byPath[i] = i;
    std::sort(byPath.begin(), byPath.end(), [index](uint32_t a, uint32_t b) { return index->Path(a) < index->Path(b); });
    for (uint32_t i = 1; i < count; ++i) {
      if (index->Path(byPath[i]) == index->Path(byPath[i - 1])) return Malformed();
    }
    for (uint32_t i = 0; i < count; ++i) {
      IndexedEntry& indexed = index->entries[i];
      if (indexed.pathLength == indexed.nameLength) continue;
      const std::string_view folder = index->Path(i).substr(0, indexed.pathLength - indexed.nameLength - 1);
      const auto found = std::lower_bound(byPath.begin(), byPath.end(), folder,
                                          [index](uint32_t entry, std::string_view key) { return index->Path(entry) < key; });
      if (found == byPath.end() || index->Path(*found) != folder || *found >= i ||
          index->entries[*found].kind != FolderEntryKind::Folder) {
        return Malformed();
      }
      indexed.parent = *found;
    }
    index->byFolder = std::move(byPath);
    std::sort(index->byFolder.begin(), index->byFolder.end(), [index](uint32_t a, uint32_t b) {
      const IndexedEntry& x = index->entries[a];
      const IndexedEntry& y = index->entries[b];
      return x.parent != y.parent ? x.parent < y.parent : index->Name(a) < index->Name(b);
    });
  } catch (const std::bad_alloc&) {
    return Stopped(Step::AllocateListing, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return DoneOutcome();
}
