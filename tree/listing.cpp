// Walking a tree one folder at a time, each opened relative to its parent without following
// a link.
#include "tree/listing.h"

#include <algorithm>
#include <new>

#include "stream/steps.h"
#include "tree/folder_cursor.h"
#include "tree/listing_warmer.h"
#include "tree/names.h"

namespace {

struct Listed {
  std::string name;
  EntryKind kind;
  uint64_t size;
  bool fetchedWhenRead;
};

struct Collected {
  std::vector<Listed> found;
  bool outOfMemory = false;
};

// Memory running out inside the system's listing must not leave it open: the listing ends,
// and the walk learns of it once the listing is closed.
SystemError Collect(void* context, const FolderEntry& entry) {
  auto* collected = static_cast<Collected*>(context);
  try {
    collected->found.push_back(Listed{entry.name, entry.kind, entry.size, entry.fetchedWhenRead});
    return SystemError{};
  } catch (const std::bad_alloc&) {
    collected->outOfMemory = true;
    return ErrorOf(SystemErrorKind::NotEnoughMemory);
  }
}

class Walk {
 public:
  Walk(Step listStep, const StreamControl& control, TreeListing* listing, std::vector<EntryReport>* skipped,
       ListingWarmer& warmer)
      : listStep_(listStep), control_(control), listing_(*listing), skipped_(*skipped), warmer_(warmer) {}

  // Lists the folder's entries behind the others and walks into its folders; why the folder
  // itself could not be listed.
  SystemError List(const FolderHandle& folder, uint32_t index, uint32_t depth) {
    Collected collected;
    const SystemError listed = ListFolder(folder, &Collect, &collected);
    if (collected.outOfMemory) throw std::bad_alloc();
    if (listed) return listed;
    if (FolderIgnoresCase(folder)) listing_.ignoresCase = true;
    std::vector<Listed>& found = collected.found;
    std::sort(found.begin(), found.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
    const uint32_t first = static_cast<uint32_t>(listing_.entries.size());
    if (index == kTopFolder) {
      listing_.firstEntry = first;
      listing_.entryCount = static_cast<uint32_t>(found.size());
    } else {
      listing_.entries[index].firstEntry = first;
      listing_.entries[index].entryCount = static_cast<uint32_t>(found.size());
    }
    for (const Listed& entry : found) Add(entry, index);
    Ahead(first, static_cast<uint32_t>(found.size()), depth);
    for (uint32_t i = first; i < first + found.size(); ++i) {
      if (Stopped()) return SystemError{};
      if (listing_.entries[i].kind == FolderEntryKind::Folder) Enter(folder, i, depth + 1);
    }
    return SystemError{};
  }

  bool Stopped() const { return control_.stop != nullptr && control_.stop->load(std::memory_order_relaxed); }

 private:
  void Add(const Listed& found, uint32_t parent) {
    ListedEntry entry;
    entry.nameAt = listing_.names.size();
    entry.parent = parent;
    entry.size = found.size;
    entry.fetchedWhenRead = found.fetchedWhenRead;
    // The whole path must fit the exchange files' 16-bit length.
    const uint64_t pathBytes = (parent == kTopFolder ? 0 : listing_.Path(parent).size() + 1) + found.name.size();
    const NameFault fault = pathBytes > kLongestFolderPath ? NameFault::TooLong : CheckComponent(found.name, PortableNameRules());
    entry.nameLength = static_cast<uint16_t>(fault == NameFault::None ? found.name.size() : 0);
    if (fault == NameFault::None) listing_.names += found.name;
    switch (found.kind) {
      case EntryKind::File: entry.kind = FolderEntryKind::File; break;
      case EntryKind::Folder: entry.kind = FolderEntryKind::Folder; break;
      case EntryKind::Link: Skip(&entry, SkipReason::Link); break;
      case EntryKind::Other: Skip(&entry, SkipReason::NotRegular); break;
    }
    const uint32_t index = static_cast<uint32_t>(listing_.entries.size());
    listing_.entries.push_back(entry);
    if (fault != NameFault::None) {
      // Told by the name the system gave, which no exchange file can carry.
      listing_.entries[index].kind = FolderEntryKind::Skipped;
      listing_.entries[index].carried = false;
      EntryReport report = ReportFor(index, EntrySkip::BadName);
      report.path = ParentPath(parent) + found.name;
      report.nameFault = fault;
      report.folder = found.kind == EntryKind::Folder;
      skipped_.push_back(std::move(report));
      return;
    }
    if (entry.kind == FolderEntryKind::File) listing_.fileBytes += entry.size;
    if (entry.kind == FolderEntryKind::Skipped) {
      skipped_.push_back(ReportFor(index, entry.reason == SkipReason::Link ? EntrySkip::Link : EntrySkip::NotRegular));
    }
  }

  // The folders among the entries just added, for the helpers to read ahead.
  void Ahead(uint32_t first, uint32_t count, uint32_t depth) {
    if (depth >= kDeepestFolder) return;
    std::vector<std::vector<std::string>> folders;
    std::vector<std::string_view> above;
    for (uint32_t i = first; i < first + count; ++i) {
      if (listing_.entries[i].kind != FolderEntryKind::Folder) continue;
      listing_.FolderNames(i, &above);
      std::vector<std::string>& names = folders.emplace_back(above.begin(), above.end());
      names.emplace_back(listing_.Name(i));
    }
    warmer_.Found(std::move(folders));
  }

  static void Skip(ListedEntry* entry, SkipReason reason) {
    entry->kind = FolderEntryKind::Skipped;
    entry->reason = reason;
  }

  std::string ParentPath(uint32_t parent) const { return parent == kTopFolder ? "" : listing_.Path(parent) + "/"; }

  EntryReport ReportFor(uint32_t index, EntrySkip skip) const {
    EntryReport report;
    report.path = listing_.Path(index);
    report.event = EntryEvent::Skipped;
    report.skip = skip;
    return report;
  }

  // Opens and walks a folder below; one that cannot be opened or listed is skipped.
  void Enter(const FolderHandle& parent, uint32_t index, uint32_t depth) {
    EntryReport report = ReportFor(index, EntrySkip::Unreadable);
    report.folder = true;
    if (depth > kDeepestFolder) {
      report.skip = EntrySkip::TooDeep;
    } else {
      const std::string name(listing_.Name(index));
      FolderHandle folder;
      SystemError failed = OpenSubfolder(parent, name.c_str(), &folder);
      if (!failed) {
        failed = List(folder, index, depth);
        if (!failed) return;
      } else if (failed.Is(SystemErrorKind::IsLink)) {
        report.skip = EntrySkip::Link;
      }
      report.step = listStep_;
      report.systemError = failed.code;
    }
    ListedEntry& entry = listing_.entries[index];
    entry.kind = FolderEntryKind::Skipped;
    entry.reason = report.skip == EntrySkip::Link ? SkipReason::Link : SkipReason::Unreadable;
    entry.entryCount = 0;
    skipped_.push_back(std::move(report));
  }

  Step listStep_;
  const StreamControl& control_;
  TreeListing& listing_;
  std::vector<EntryReport>& skipped_;
  ListingWarmer& warmer_;
};

}  // namespace

std::string TreeListing::Path(uint32_t index) const {
  std::vector<std::string_view> folders;
  FolderNames(index, &folders);
  std::string path;
  for (const std::string_view folder : folders) {
    path += folder;
    path += '/';
  }
  path += Name(index);
  return path;
}

void TreeListing::FolderNames(uint32_t index, std::vector<std::string_view>* folders) const {
  folders->clear();
  for (uint32_t at = entries[index].parent; at != kTopFolder; at = entries[at].parent) folders->push_back(Name(at));
  std::reverse(folders->begin(), folders->end());
}

Outcome ListTree(const FolderHandle& top, Step listStep, const StreamControl& control, TreeListing* listing,
                 std::vector<EntryReport>* skipped) {
  try {
    ListingWarmer warmer(top, control);
    Walk walk(listStep, control, listing, skipped, warmer);
    if (const SystemError failed = walk.List(top, kTopFolder, 0)) return Stopped(listStep, failed);
    if (walk.Stopped()) return CancelledOutcome(false);
  } catch (const std::bad_alloc&) {
    return Stopped(Step::AllocateListing, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return DoneOutcome();
}
