// Folders through the system's native calls: every name is opened relative to its parent's
// handle (NtCreateFile with a root directory, the system's own openat), with
// FILE_OPEN_REPARSE_POINT so that a link, junction or mount point is opened as itself and
// refused, never followed. A reparse point that keeps the entry itself (a cloud file, a
// compressed or deduplicated file) is opened a second time through its filter, which fetches
// or unpacks its data, and taken only when it is still the same entry. Names travel as UTF-16,
// so any letter and any depth work. The folder's entry as its parent lists it is checked too:
// some systems show a reparse point only there. What a reparse tag is, is the core's to say
// (core/reparse_points.h).
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/reparse_points.h"
#include "core/utf8.h"
#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/temporary_name.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
extern "C" WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR);

namespace {

constexpr FILE_INFORMATION_CLASS kFileBothDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(3);
constexpr FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// The longest name of one component, in UTF-16 units.
constexpr uint32_t kLongestComponentUnits = 255;
// How many fresh names are tried before a folder is taken to refuse them all.
constexpr int kNameAttempts = 100;
// What one call of the system's listing fills: a whole folder's entries, and the few a search
// for one name meets.
constexpr size_t kListingBytes = 65536;
constexpr size_t kSearchBytes = 8192;

// FILE_BOTH_DIR_INFORMATION: a listed entry with its short name.
struct BothDirectoryEntry {
  ULONG nextEntryOffset;
  ULONG fileIndex;
  LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime, endOfFile, allocationSize;
  ULONG fileAttributes;
  ULONG fileNameLength;
  ULONG eaSize;  // the reparse tag, when the attributes carry a reparse point
  CCHAR shortNameLength;
  WCHAR shortName[12];
  WCHAR fileName[1];
};

SystemError Failed(NTSTATUS status) { return Failure(RtlNtStatusToDosError(status)); }

// UTF-8 to UTF-16; a name that is not valid UTF-8 or not one component is refused.
bool WideName(const char* name, std::wstring* wide) {
  if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || std::strpbrk(name, "/\\") != nullptr) {
    return false;
  }
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (length <= 1) return false;
  wide->assign(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide->data(), length);
  wide->pop_back();
  return true;
}

// UTF-16 to UTF-8, a lone surrogate encoded as its own three bytes: such a name is then not
// valid UTF-8, which the caller lists as a name it cannot carry.
std::string NarrowName(const wchar_t* name, size_t units) { return Utf8FromUtf16(name, units); }

bool SameName(const wchar_t* a, size_t aUnits, const std::wstring& b) {
  return CompareStringOrdinal(a, static_cast<int>(aUnits), b.c_str(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// An entry's attributes and reparse tag (meaningful only with FILE_ATTRIBUTE_REPARSE_POINT).
struct Listed {
  ULONG attributes = 0;
  ULONG tag = 0;
};

// A test's stand-in for a reparse point no test can make (platform/hooks.h).
void StandIn(const char* name, Listed* listed) {
  uint32_t attributes = 0;
  if (const uint32_t tag = StandInReparseTag(name, &attributes)) {
    listed->attributes |= FILE_ATTRIBUTE_REPARSE_POINT | attributes;
    listed->tag = tag;
  }
}

void StandIn(const std::wstring& name, Listed* listed) {
  // In a buffer of its own: nothing is allocated while the callers hold handles.
  char narrow[4 * kLongestComponentUnits + 1];
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, name.c_str(), static_cast<int>(name.size()), narrow,
                                        static_cast<int>(sizeof narrow - 1), nullptr, nullptr);
  if (bytes <= 0) return;
  narrow[bytes] = '\0';
  StandIn(narrow, listed);
}

EntryKind KindOf(const Listed& listed) {
  if ((listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    switch (KindOfReparseTag(listed.tag)) {
      case ReparseKind::Link:
      case ReparseKind::Unknown: return EntryKind::Link;
      case ReparseKind::NotRegular: return EntryKind::Other;
      case ReparseKind::Plain: break;
    }
  }
  if ((listed.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::Folder;
  if ((listed.attributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::Other;
  return EntryKind::File;
}

// The error that refuses an entry of this kind where a file or folder is asked for.
DWORD RefusalOf(EntryKind kind) { return kind == EntryKind::Other ? ERROR_NOT_SUPPORTED : ERROR_CANT_ACCESS_FILE; }

enum class Search { Absent, Listed, ShortNameOfOther };

// Searches the folder's entries for name; see ListedAttributes. Nothing is allocated here, so
// that memory running out cannot leave the callers' handles open: the pattern has the room of
// the longest name a component takes, and a longer name is in no listing.
Search SearchListing(HANDLE parent, const std::wstring& name, Listed* listed) {
  wchar_t pattern[kLongestComponentUnits];
  if (name.empty() || name.size() > kLongestComponentUnits) return Search::Absent;
  std::copy(name.begin(), name.end(), pattern);
  pattern[name.size() - 1] = L'?';
  UNICODE_STRING mask;
  mask.Buffer = pattern;
  mask.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  mask.MaximumLength = mask.Length;
  alignas(8) unsigned char buffer[kSearchBytes];
  BOOLEAN restart = TRUE;
  Search found = Search::Absent;
  for (;;) {
    IO_STATUS_BLOCK status;
    const NTSTATUS result = NtQueryDirectoryFile(parent, nullptr, nullptr, nullptr, &status, buffer, sizeof buffer,
                                                 kFileBothDirectoryInformation, FALSE, restart ? &mask : nullptr, restart);
    restart = FALSE;
    if (result == kNoMoreFiles || result == kNoSuchFile) return found;
    if (result < 0) return found;
    for (auto* entry = reinterpret_cast<BothDirectoryEntry*>(buffer);;
         entry = reinterpret_cast<BothDirectoryEntry*>(reinterpret_cast<unsigned char*>(entry) + entry->nextEntryOffset)) {
      if (SameName(entry->fileName, entry->fileNameLength / sizeof(wchar_t), name)) {
        listed->attributes = entry->fileAttributes;
        listed->tag = entry->eaSize;
        return Search::Listed;
      }
      // The pattern matches short names too: the system would open that entry by this name.
      if (entry->shortNameLength > 0 && SameName(entry->shortName, static_cast<size_t>(entry->shortNameLength) / sizeof(wchar_t), name)) {
        found = Search::ShortNameOfOther;
      }
      if (entry->nextEntryOffset == 0) break;
    }
  }
}

// asItself: with FILE_OPEN_REPARSE_POINT, so that a reparse point is opened as itself, not
// through its filter or to what it names.
NTSTATUS OpenRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, HANDLE* opened, bool asItself = true) {
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK status;
  *opened = nullptr;
  return NtCreateFile(opened, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                      options | FILE_SYNCHRONOUS_IO_NONALERT | (asItself ? FILE_OPEN_REPARSE_POINT : 0) | FILE_OPEN_FOR_BACKUP_INTENT,
                      nullptr, 0);
}

// The attributes of name as its parent lists it. The search pattern ends in a wildcard, so
// that the listing is read entry by entry as a whole folder's is; names are compared as the
// file system compares them, ignoring case. A handle keeps the first pattern it was searched
// with, so the search goes through a handle of its own to the same folder.
Search ListedAttributes(HANDLE folder, const std::wstring& name, Listed* listed) {
  HANDLE parent;
  if (OpenRelative(folder, std::wstring(), FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, &parent) < 0) {
    return Search::Absent;
  }
  const Search found = SearchListing(parent, name, listed);
  CloseHandle(parent);
  if (found == Search::Listed) StandIn(name, listed);
  return found;
}

// Which file an open handle is, and its reparse point.
bool Identify(HANDLE handle, EntryIdentity* identity) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return false;
  identity->attributes = tag.FileAttributes;
  identity->tag = tag.ReparseTag;
  FILE_ID_INFO id = {};
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
    identity->volume = id.VolumeSerialNumber;
    std::memcpy(&identity->fileIdLow, id.FileId.Identifier, 8);
    std::memcpy(&identity->fileIdHigh, id.FileId.Identifier + 8, 8);
    return true;
  }
  // Before Windows 8 the 64-bit index is all there is.
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) return false;
  identity->volume = information.dwVolumeSerialNumber;
  identity->fileIdLow = uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  identity->fileIdHigh = 0;
  return true;
}

// The path of an open entry from its volume's root, short names spelled long, in path (room
// for kEntryPathRoom units); its length, or 0 when the system cannot give it.
constexpr DWORD kEntryPathRoom = 1024;
DWORD NormalizedPath(HANDLE handle, wchar_t* path) {
  const DWORD length = GetFinalPathNameByHandleW(handle, path, kEntryPathRoom, FILE_NAME_NORMALIZED | VOLUME_NAME_NONE);
  return length < kEntryPathRoom ? length : 0;
}

// Whether the system opened another entry of the folder than the one asked for: a name it
// took for that entry's short name. The entry's own long name is compared with the name
// asked for; an entry the system cannot place, or reached elsewhere, is not compared. Nothing
// is allocated: the callers hold the entry open.
bool OpenedAnotherEntry(HANDLE opened, HANDLE parent, const std::wstring& asked) {
  wchar_t whole[kEntryPathRoom];
  wchar_t folder[kEntryPathRoom];
  const DWORD wholeUnits = NormalizedPath(opened, whole);
  DWORD folderUnits = NormalizedPath(parent, folder);
  size_t slash = wholeUnits;
  while (slash > 0 && whole[slash - 1] != L'\\') --slash;
  if (wholeUnits == 0 || folderUnits == 0 || slash == 0) return false;
  // A drive's root is a lone backslash, which its entries' paths begin with.
  if (folder[folderUnits - 1] == L'\\') --folderUnits;
  const auto same = [](const wchar_t* a, size_t aUnits, const wchar_t* b, size_t bUnits) {
    return CompareStringOrdinal(a, static_cast<int>(aUnits), b, static_cast<int>(bUnits), TRUE) == CSTR_EQUAL;
  };
  if (!same(whole, slash - 1, folder, folderUnits)) return false;
  return !same(whole + slash, wholeUnits - slash, asked.c_str(), asked.size());
}

// Opens name in parent as a file or folder (options), never through a link: a name surrogate
// or an unknown reparse point is refused with IsLink, the Linux subsystem's devices with
// NotRegularFile, a name that opens another entry with ShortNameOfOther. A reparse point that
// keeps the entry itself is opened again through its filter and used when it is still the
// same entry. *status, where asked: the NTSTATUS of the system's last open.
SystemError OpenEntry(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG options, HANDLE* result,
                      NTSTATUS* status = nullptr) {
  *result = nullptr;
  HANDLE opened;
  const NTSTATUS openedStatus = OpenRelative(parent, name, access, share, FILE_OPEN, options, &opened);
  if (status != nullptr) *status = openedStatus;
  if (openedStatus < 0) return Failed(openedStatus);
  const auto refuse = [&](DWORD error) {
    CloseHandle(opened);
    return Failure(error);
  };
  // A file system that cannot say is judged by the listing alone.
  EntryIdentity first;
  if (!Identify(opened, &first)) first = EntryIdentity{};
  Listed listed{first.attributes, first.tag};
  if ((listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) ListedAttributes(parent, name, &listed);
  StandIn(name, &listed);
  if ((listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    if (OpenedAnotherEntry(opened, parent, name)) return refuse(SystemErrorCode(SystemErrorKind::ShortNameOfOther));
    *result = opened;
    return SystemError{};
  }
  if (KindOfReparseTag(listed.tag) != ReparseKind::Plain) return refuse(RefusalOf(KindOf(listed)));
  first.attributes = listed.attributes;
  first.tag = listed.tag;
  CloseHandle(opened);
  HANDLE through;
  const NTSTATUS again = OpenRelative(parent, name, access, share, FILE_OPEN, options, &through, false);
  if (status != nullptr) *status = again;
  if (again < 0) return Failed(again);
  EntryIdentity reopened;
  if (!Identify(through, &reopened)) {
    const SystemError failed = LastError();
    CloseHandle(through);
    return failed;
  }
  if (!SameEntryThroughFilter(first, reopened) || OpenedAnotherEntry(through, parent, name)) {
    CloseHandle(through);
    return Failure(ERROR_CANT_ACCESS_FILE);
  }
  *result = through;
  return SystemError{};
}

struct RenameRequest {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG fileNameLength;
  WCHAR fileName[1];
};

}  // namespace

bool NamesFolder(const char* path) {
  const SystemPath wide(path);
  if (!wide.ok()) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

SystemError OpenFolder(const char* path, HeldFileWaits* waits, FolderHandle* folder) {
  if (const SystemError failed = Fault(Service::OpenFolder)) return failed;
  // The top path in the form that takes any length; everything below is opened by name.
  std::wstring full;
  if (!LongSystemPath(path, &full)) return LastError();
  HANDLE handle = CreateFileW(full.c_str(), kFolderAccess, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  EntryIdentity first;
  if (!Identify(handle, &first)) {
    const SystemError failed = LastError();
    CloseHandle(handle);
    return failed;
  }
  if ((first.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A folder kept by a filter (a cloud folder) is the folder, opened again through it.
    CloseHandle(handle);
    if (KindOfReparseTag(first.tag) != ReparseKind::Plain) return Failure(ERROR_CANT_ACCESS_FILE);
    handle = CreateFileW(full.c_str(), kFolderAccess, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    EntryIdentity reopened;
    if (!Identify(handle, &reopened) || !SameEntryThroughFilter(first, reopened)) {
      CloseHandle(handle);
      return Failure(ERROR_CANT_ACCESS_FILE);
    }
  }
  if ((first.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(handle);
    return Failure(ERROR_DIRECTORY);
  }
  *folder = FolderOf(handle, waits);
  return SystemError{};
}

SystemError OpenSubfolder(const FolderHandle& parent, const char* name, FolderHandle* folder) {
  if (const SystemError failed = Fault(Service::OpenSubfolder)) return failed;
  std::wstring wide;
  if (!WideName(name, &wide)) return Failure(ERROR_INVALID_NAME);
  HANDLE handle;
  NTSTATUS status = 0;
  if (const SystemError failed =
          OpenEntry(Native(parent), wide, kFolderAccess, kShareAll, FILE_DIRECTORY_FILE, &handle, &status)) {
    // A link to a file is opened as a link even though a folder was asked for.
    Listed listed;
    if (status < 0 && ListedAttributes(Native(parent), wide, &listed) == Search::Listed &&
        (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && KindOfReparseTag(listed.tag) != ReparseKind::Plain) {
      return Failure(RefusalOf(KindOf(listed)));
    }
    return failed;
  }
  *folder = FolderOf(handle, parent.waits());
  return SystemError{};
}

SystemError CreateSubfolder(const FolderHandle& parent, const char* name) {
  if (const SystemError failed = Fault(Service::CreateSubfolder)) return failed;
  std::wstring wide;
  if (!WideName(name, &wide)) return Failure(ERROR_INVALID_NAME);
  HANDLE handle;
  const NTSTATUS status = OpenRelative(Native(parent), wide, kFolderAccess, kShareAll, FILE_CREATE, FILE_DIRECTORY_FILE, &handle);
  if (status < 0) return Failed(status);
  CloseHandle(handle);
  return SystemError{};
}

SystemError ListFolder(const FolderHandle& folder, FolderEntryVisitor visit, void* context) {
  if (const SystemError failed = Fault(Service::ListFolder)) return failed;
  alignas(8) unsigned char buffer[kListingBytes];
  FILE_INFO_BY_HANDLE_CLASS request = FileFullDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(Native(folder), request, buffer, sizeof buffer)) {
      return GetLastError() == ERROR_NO_MORE_FILES ? SystemError{} : LastError();
    }
    request = FileFullDirectoryInfo;
    for (auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(buffer);;
         entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
      const std::string name = NarrowName(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != "." && name != "..") {
        // The reparse tag of an entry that carries one is where its extended attributes' size would be.
        Listed found{entry->FileAttributes, entry->EaSize};
        StandIn(name.c_str(), &found);
        const EntryKind kind = KindOf(found);
        FolderEntry listed{name.c_str(), kind, kind == EntryKind::File ? static_cast<uint64_t>(entry->EndOfFile.QuadPart) : 0};
        listed.fetchedWhenRead = kind == EntryKind::File && FetchedWhenRead(found.attributes);
        if (const SystemError ended = visit(context, listed)) return ended;
      }
      if (entry->NextEntryOffset == 0) break;
    }
  }
}

SystemError GetEntryKind(const FolderHandle& parent, const char* name, EntryKind* kind) {
  if (const SystemError failed = Fault(Service::GetEntryKind)) return failed;
  std::wstring wide;
  if (!WideName(name, &wide)) return Failure(ERROR_INVALID_NAME);
  Listed listed;
  switch (ListedAttributes(Native(parent), wide, &listed)) {
    case Search::Absent: return Failure(ERROR_FILE_NOT_FOUND);
    case Search::ShortNameOfOther: return Failure(SystemErrorCode(SystemErrorKind::ShortNameOfOther));
    case Search::Listed: break;
  }
  *kind = KindOf(listed);
  return SystemError{};
}

namespace {

SystemError OpenFileInOnce(const FolderHandle& parent, const char* name, FileAccess access, std::wstring* path, File* file) {
  if (const SystemError failed = Fault(Service::OpenFileIn)) return failed;
  std::wstring wide;
  if (!WideName(name, &wide)) return Failure(ERROR_INVALID_NAME);
  *path = wide;
  HANDLE handle;
  const bool forWriting = access == FileAccess::ReadWrite;
  const ACCESS_MASK rights = forWriting ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  const ULONG share = forWriting ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (const SystemError failed = OpenEntry(Native(parent), wide, rights, share, FILE_NON_DIRECTORY_FILE, &handle)) return failed;
  return AdoptHandle(handle, parent.waits(), false, file);
}

}  // namespace

SystemError OpenFileIn(const FolderHandle& parent, const char* name, FileAccess access, File* file) {
  HeldFileWait wait(parent.waits(), true);
  std::wstring wide;
  for (;;) {
    SystemError failed = OpenFileInOnce(parent, name, access, &wide, file);
    if (!failed || !wait.Again(&failed, [&] { return PathInFolder(Native(parent), wide); })) return failed;
  }
}

// The two calls as they are: the handle's size is a call of its own here.
SystemError OpenFileInWithSize(const FolderHandle& parent, const char* name, File* file, uint64_t* size, bool* sizeFailed) {
  *sizeFailed = false;
  File opened;
  if (const SystemError failed = OpenFileIn(parent, name, FileAccess::ReadOnly, &opened)) return failed;
  if (const SystemError failed = GetFileSize64(opened, size)) {
    *sizeFailed = true;
    return failed;
  }
  *file = std::move(opened);
  return SystemError{};
}

SystemError CreateTemporaryIn(const FolderHandle& parent, const char* finalName, char* temporaryName, uint32_t capacity,
                              File* file) {
  if (const SystemError failed = Fault(Service::CreateTemporaryIn)) return failed;
  std::wstring wide;
  if (!WideName(finalName, &wide)) return Failure(ERROR_INVALID_NAME);
  // A short name of its own, as for every output: one near the longest the system takes
  // still has a temporary, and nobody can plant files under it in advance.
  SystemError failed;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    uint64_t random = 0;
    if ((failed = TemporaryRandom(&random))) return failed;
    if (!ComposeTemporaryPath(finalName, 0, random, temporaryName, capacity)) return Failure(ERROR_FILENAME_EXCED_RANGE);
    std::wstring temporary;
    WideName(temporaryName, &temporary);
    HANDLE handle;
    // Marked for deletion at once, so that a run that dies leaves nothing behind.
    const NTSTATUS status = OpenRelative(Native(parent), temporary, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                         FILE_CREATE, FILE_NON_DIRECTORY_FILE, &handle);
    if (status >= 0) {
      if ((failed = AdoptHandle(handle, parent.waits(), true, file))) return failed;
      return MarkTemporary(file);
    }
    failed = Failed(status);
    if (failed.code != ERROR_FILE_EXISTS && failed.code != ERROR_ALREADY_EXISTS) return failed;
  }
  return failed;
}

SystemError CreateTemporaryIn(const FolderHandle& parent, const char* finalName, uint32_t, char* temporaryName,
                              uint32_t capacity, File* file) {
  // The folder's security is inherited, as by every new file; permission bits have no meaning here.
  return CreateTemporaryIn(parent, finalName, temporaryName, capacity, file);
}

namespace {

// Whether name opens an entry that has another long name: it is that entry's short name.
bool NamesAnotherEntry(HANDLE parent, const std::wstring& name) {
  HANDLE handle;
  if (OpenRelative(parent, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, &handle) < 0) return false;
  const bool another = OpenedAnotherEntry(handle, parent, name);
  CloseHandle(handle);
  return another;
}

// Opens an entry as itself for its removal or its rename.
SystemError OpenForDeletion(const FolderHandle& parent, const std::wstring& name, ULONG options, HANDLE* handle) {
  const NTSTATUS status = OpenRelative(Native(parent), name, DELETE, kShareAll, FILE_OPEN, options, handle);
  if (status < 0) return Failed(status);
  if (OpenedAnotherEntry(*handle, Native(parent), name)) {
    CloseHandle(*handle);
    return Failure(SystemErrorCode(SystemErrorKind::ShortNameOfOther));
  }
  return SystemError{};
}

// Renames within the folder.
SystemError Rename(const FolderHandle& parent, const std::wstring& wideFrom, const std::wstring& wideTo, bool replace) {
  // The rename request: the new name relative to the same parent, in words so that the
  // request is aligned as the system wants it; made before the entry is opened, so that
  // memory running out cannot leave it open.
  const size_t bytes = offsetof(RenameRequest, fileName) + wideTo.size() * sizeof(wchar_t);
  std::vector<uint64_t> words(bytes / sizeof(uint64_t) + 1, 0);
  HANDLE handle;
  if (const SystemError failed = OpenForDeletion(parent, wideFrom, 0, &handle)) return failed;
  auto* rename = reinterpret_cast<RenameRequest*>(words.data());
  rename->replaceIfExists = replace ? TRUE : FALSE;
  rename->rootDirectory = Native(parent);
  rename->fileNameLength = static_cast<ULONG>(wideTo.size() * sizeof(wchar_t));
  std::memcpy(rename->fileName, wideTo.c_str(), wideTo.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io;
  const NTSTATUS status = NtSetInformationFile(handle, &io, rename, static_cast<ULONG>(bytes), kFileRenameInformation);
  CloseHandle(handle);
  return status < 0 ? Failed(status) : SystemError{};
}

bool OnlyCaseDiffers(const std::wstring& a, const std::wstring& b) {
  return a != b && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
                       CSTR_EQUAL;
}

// Pushes the folder's entries down to its device through a handle of its own that may write
// there, which is what a flush of a folder asks. A file system that flushes no folders, or a
// folder that cannot be opened so, is left as it is: the rename stands either way.
SystemError FlushFolder(HANDLE folder) {
  HANDLE handle;
  if (OpenRelative(folder, std::wstring(), FILE_ADD_FILE, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, &handle) < 0) {
    return SystemError{};
  }
  const BOOL flushed = FlushFileBuffers(handle);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  if (flushed || error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED) {
    return SystemError{};
  }
  return Failure(error);
}

SystemError RenameOnce(const FolderHandle& parent, const char* from, const char* to, TakenName taken, std::wstring* wideFrom) {
  if (const SystemError failed = Fault(Service::RenameIn)) return failed;
  std::wstring wideTo;
  if (!WideName(from, wideFrom) || !WideName(to, &wideTo)) return Failure(ERROR_INVALID_NAME);
  // A new name that the system takes for another entry's short name would replace that entry.
  if (NamesAnotherEntry(Native(parent), wideTo)) return Failure(SystemErrorCode(SystemErrorKind::ShortNameOfOther));
  if (!OnlyCaseDiffers(*wideFrom, wideTo)) return Rename(parent, *wideFrom, wideTo, taken == TakenName::Replace);
  // A new name that differs only in case finds the entry itself, and some file systems then
  // keep the old name: the entry goes through a name of its own first, one fixed for the new
  // name, which a run that dies between the two renames leaves for the next to finish.
  char middleName[kTemporaryNameRoom];
  ComposeMiddleName(to, middleName, sizeof middleName);
  std::wstring middle;
  WideName(middleName, &middle);
  if (const SystemError failed = Rename(parent, *wideFrom, middle, false)) return failed;
  if (const SystemError failed = Rename(parent, middle, wideTo, false)) {
    static_cast<void>(Rename(parent, middle, *wideFrom, false));
    return failed;
  }
  return SystemError{};
}

}  // namespace

SystemError RenameIn(const FolderHandle& parent, const char* from, const char* to, TakenName taken) {
  HeldFileWait wait(parent.waits(), true);
  std::wstring wideFrom;
  for (;;) {
    SystemError failed = RenameOnce(parent, from, to, taken, &wideFrom);
    if (!failed) return FlushFolder(Native(parent));
    if (!wait.Again(&failed, [&] { return PathInFolder(Native(parent), wideFrom); })) return failed;
  }
}

namespace {

// FILE_DISPOSITION_INFO_EX of Windows 10: the name goes at once, while programs that share
// deletion may keep the entry open.
constexpr FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;

// Opens the entry for deletion as itself and marks it to go: at once where the system can,
// else when the last handle to it is closed.
SystemError RemoveOnce(Service service, const FolderHandle& parent, const char* name, ULONG options, std::wstring* wide) {
  if (const SystemError failed = Fault(service)) return failed;
  if (!WideName(name, wide)) return Failure(ERROR_INVALID_NAME);
  HANDLE handle;
  if (const SystemError failed = OpenForDeletion(parent, *wide, options, &handle)) return failed;
  ULONG flags = kDispositionDelete | kDispositionPosixSemantics;
  BOOL marked = SetFileInformationByHandle(handle, kFileDispositionInfoEx, &flags, sizeof flags);
  DWORD error = GetLastError();
  // Before Windows 10, and on file systems without it, the system does not know the request.
  if (!marked && (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    marked = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    error = GetLastError();
  }
  CloseHandle(handle);
  return marked ? SystemError{} : Failure(error);
}

SystemError Remove(Service service, const FolderHandle& parent, const char* name, ULONG options) {
  HeldFileWait wait(parent.waits(), true);
  std::wstring wide;
  for (;;) {
    SystemError failed = RemoveOnce(service, parent, name, options, &wide);
    if (!failed || !wait.Again(&failed, [&] { return PathInFolder(Native(parent), wide); })) return failed;
  }
}

}  // namespace

SystemError RemoveFileIn(const FolderHandle& parent, const char* name) {
  return Remove(Service::RemoveFileIn, parent, name, FILE_NON_DIRECTORY_FILE);
}

SystemError RemoveFolderIn(const FolderHandle& parent, const char* name) {
  return Remove(Service::RemoveFolderIn, parent, name, FILE_DIRECTORY_FILE);
}

// Windows' own folders ignore case; a folder made case-sensitive for the Linux subsystem is
// not looked for.
bool FolderIgnoresCase(const FolderHandle&) { return true; }

uint16_t UpcaseNameUnit(uint16_t unit) { return RtlUpcaseUnicodeChar(unit); }

void ExposeCloudPlaceholders() {
  // Windows 10 1803 and later; PHCM_EXPOSE_PLACEHOLDERS.
  using SetMode = CHAR(NTAPI*)(CHAR);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return;
  const auto set = reinterpret_cast<SetMode>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlSetProcessPlaceholderCompatibilityMode")));
  if (set != nullptr) set(2);
}

NameLimits FileSystemNameLimits() {
  NameLimits limits;
  limits.ignoresCase = true;
  limits.windowsNames = true;
  limits.utf16Units = true;
  limits.longestComponent = kLongestComponentUnits;
  limits.longestPath = 32767 - 8;  // room for the \\?\UNC\ prefix
  return limits;
}

SystemError NameTemporaryIn(const FolderHandle&, File* file, char*, uint32_t) {
  if (const SystemError failed = Fault(Service::NameTemporary)) return failed;
  return KeepTemporary(file);
}

// A temporary that can be opened for deletion with nothing shared is held by nobody: the run
// that wrote it has died, and it is removed. One still written, or marked for deletion already,
// cannot be opened so.
SystemError RemoveStaleTemporariesIn(const FolderHandle& folder, const uint64_t* spareSizes, size_t spareCount,
                                     uint32_t* removed) {
  *removed = 0;
  if (const SystemError failed = Fault(Service::RemoveStaleTemporaries)) return failed;
  // The names first, read as ListFolder reads them but uncounted: the sweep is no listing of
  // the operation's.
  std::vector<std::wstring> names;
  alignas(8) unsigned char buffer[kListingBytes];
  for (FILE_INFO_BY_HANDLE_CLASS request = FileFullDirectoryRestartInfo;; request = FileFullDirectoryInfo) {
    if (!GetFileInformationByHandleEx(Native(folder), request, buffer, sizeof buffer)) {
      if (GetLastError() != ERROR_NO_MORE_FILES) return LastError();
      break;
    }
    for (auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(buffer);;
         entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
      const size_t units = entry->FileNameLength / sizeof(wchar_t);
      const uint64_t size = static_cast<uint64_t>(entry->EndOfFile.QuadPart);
      if (IsTemporaryName(NarrowName(entry->FileName, units).c_str()) &&
          std::find(spareSizes, spareSizes + spareCount, size) == spareSizes + spareCount) {
        names.emplace_back(entry->FileName, units);
      }
      if (entry->NextEntryOffset == 0) break;
    }
  }
  for (const std::wstring& wide : names) {
    HANDLE handle;
    if (OpenRelative(Native(folder), wide, DELETE, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &handle) < 0) continue;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) ++*removed;
    CloseHandle(handle);
  }
  return SystemError{};
}
