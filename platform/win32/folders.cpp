// Folders through the system's native calls: every name is opened relative to its parent's
// handle (NtCreateFile with a root directory, the system's own openat), with
// FILE_OPEN_REPARSE_POINT so that a link, junction or mount point is opened as itself and
// refused, never followed. Names travel as UTF-16, so any letter and any depth work. The
// folder's entry as its parent lists it is checked too: some systems show a reparse point
// only there.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/temporary_name.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);

namespace {

constexpr FILE_INFORMATION_CLASS kFileFullDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(2);
constexpr FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// The longest name of one component, in UTF-16 units.
constexpr uint32_t kLongestComponentUnits = 255;

HANDLE Native(FolderHandle folder) { return reinterpret_cast<HANDLE>(folder); }

int Failed(NTSTATUS status) {
  SetLastError(RtlNtStatusToDosError(status));
  return 0;
}

int FailWith(DWORD error) {
  SetLastError(error);
  return 0;
}

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

EntryKind KindOf(ULONG attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::Link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::Folder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::Other;
  return EntryKind::File;
}

// Searches the folder's entries for name; see ListedAttributes. Nothing is allocated here, so
// that memory running out cannot leave the callers' handles open: the pattern has the room of
// the longest name a component takes, and a longer name is in no listing.
bool SearchListing(HANDLE parent, const std::wstring& name, ULONG* attributes) {
  wchar_t pattern[kLongestComponentUnits];
  if (name.empty() || name.size() > kLongestComponentUnits) return false;
  std::copy(name.begin(), name.end(), pattern);
  pattern[name.size() - 1] = L'?';
  UNICODE_STRING mask;
  mask.Buffer = pattern;
  mask.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  mask.MaximumLength = mask.Length;
  alignas(8) unsigned char buffer[8192];
  BOOLEAN restart = TRUE;
  for (;;) {
    IO_STATUS_BLOCK status;
    const NTSTATUS result = NtQueryDirectoryFile(parent, nullptr, nullptr, nullptr, &status, buffer, sizeof buffer,
                                                 kFileFullDirectoryInformation, FALSE, restart ? &mask : nullptr, restart);
    restart = FALSE;
    if (result == kNoMoreFiles || result == kNoSuchFile) return false;
    if (result < 0) return false;
    for (auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(buffer);;
         entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
      const int units = static_cast<int>(entry->FileNameLength / sizeof(wchar_t));
      if (CompareStringOrdinal(entry->FileName, units, name.c_str(), static_cast<int>(name.size()), TRUE) == CSTR_EQUAL) {
        *attributes = entry->FileAttributes;
        return true;
      }
      if (entry->NextEntryOffset == 0) break;
    }
  }
}

NTSTATUS OpenRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, HANDLE* opened) {
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK status;
  *opened = nullptr;
  return NtCreateFile(opened, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                      options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT,
                      nullptr, 0);
}

// The attributes of name as its parent lists it. The search pattern ends in a wildcard, so
// that the listing is read entry by entry as a whole folder's is; names are compared as the
// file system compares them, ignoring case. A handle keeps the first pattern it was searched
// with, so the search goes through a handle of its own to the same folder.
bool ListedAttributes(HANDLE folder, const std::wstring& name, ULONG* attributes) {
  HANDLE parent;
  if (OpenRelative(folder, std::wstring(), FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, &parent) < 0) {
    return false;
  }
  const bool found = SearchListing(parent, name, attributes);
  CloseHandle(parent);
  return found;
}

// Refuses what was opened when it is a reparse point, by the handle or by its listed entry.
bool IsReparsePoint(HANDLE parent, const std::wstring& name, HANDLE opened) {
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &tag, sizeof tag) &&
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return true;
  }
  ULONG listed = 0;
  return ListedAttributes(parent, name, &listed) && (listed & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

FolderHandle TakeFolder(HANDLE handle) {
  NoteFileOpened(handle);
  return reinterpret_cast<FolderHandle>(handle);
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

FolderHandle OpenFolder(const char* path) {
  if (MustFail(Service::OpenFolder)) return nullptr;
  // The top path in the form that takes any length; everything below is opened by name.
  std::wstring full;
  if (!LongSystemPath(path, &full)) return nullptr;
  HANDLE handle = CreateFileW(full.c_str(), kFolderAccess, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return FailWith(error), nullptr;
  }
  if ((tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != FILE_ATTRIBUTE_DIRECTORY) {
    CloseHandle(handle);
    return FailWith((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? ERROR_CANT_ACCESS_FILE : ERROR_DIRECTORY),
           nullptr;
  }
  return TakeFolder(handle);
}

FolderHandle OpenSubfolder(FolderHandle parent, const char* name) {
  if (MustFail(Service::OpenSubfolder)) return nullptr;
  std::wstring wide;
  if (!WideName(name, &wide)) return FailWith(ERROR_INVALID_NAME), nullptr;
  HANDLE handle;
  const NTSTATUS status = OpenRelative(Native(parent), wide, kFolderAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, &handle);
  if (status < 0) {
    Failed(status);
    // A link to a file is opened as a link even though a folder was asked for.
    ULONG listed = 0;
    if (ListedAttributes(Native(parent), wide, &listed) && (listed & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return nullptr;
  }
  if (IsReparsePoint(Native(parent), wide, handle)) {
    CloseHandle(handle);
    return FailWith(ERROR_CANT_ACCESS_FILE), nullptr;
  }
  return TakeFolder(handle);
}

int CreateSubfolder(FolderHandle parent, const char* name) {
  if (MustFail(Service::CreateSubfolder)) return 0;
  std::wstring wide;
  if (!WideName(name, &wide)) return FailWith(ERROR_INVALID_NAME);
  HANDLE handle;
  const NTSTATUS status = OpenRelative(Native(parent), wide, kFolderAccess, kShareAll, FILE_CREATE, FILE_DIRECTORY_FILE, &handle);
  if (status < 0) return Failed(status);
  CloseHandle(handle);
  return 1;
}

void CloseFolder(FolderHandle folder) {
  if (folder == nullptr) return;
  NoteFileClosed(folder);
  CloseHandle(Native(folder));
}

int ListFolder(FolderHandle folder, FolderEntryVisitor visit, void* context) {
  if (MustFail(Service::ListFolder)) return 0;
  alignas(8) unsigned char buffer[65536];
  FILE_INFO_BY_HANDLE_CLASS request = FileFullDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(Native(folder), request, buffer, sizeof buffer)) {
      return GetLastError() == ERROR_NO_MORE_FILES ? 1 : 0;
    }
    request = FileFullDirectoryInfo;
    for (auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(buffer);;
         entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
      const std::string name = NarrowName(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != "." && name != "..") {
        const EntryKind kind = KindOf(entry->FileAttributes);
        const FolderEntry listed{name.c_str(), kind,
                                 kind == EntryKind::File ? static_cast<uint64_t>(entry->EndOfFile.QuadPart) : 0};
        if (!visit(context, listed)) return 0;
      }
      if (entry->NextEntryOffset == 0) break;
    }
  }
}

int GetEntryKind(FolderHandle parent, const char* name, EntryKind* kind) {
  if (MustFail(Service::GetEntryKind)) return 0;
  std::wstring wide;
  if (!WideName(name, &wide)) return FailWith(ERROR_INVALID_NAME);
  ULONG attributes = 0;
  if (!ListedAttributes(Native(parent), wide, &attributes)) return FailWith(ERROR_FILE_NOT_FOUND);
  *kind = KindOf(attributes);
  return 1;
}

FileHandle OpenFileIn(FolderHandle parent, const char* name, FileAccess access) {
  if (MustFail(Service::OpenFileIn)) return nullptr;
  std::wstring wide;
  if (!WideName(name, &wide)) return FailWith(ERROR_INVALID_NAME), nullptr;
  HANDLE handle;
  const bool forWriting = access == FileAccess::ReadWrite;
  const ACCESS_MASK rights = forWriting ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  const ULONG share = forWriting ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  const NTSTATUS status = OpenRelative(Native(parent), wide, rights, share, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &handle);
  if (status < 0) return Failed(status), nullptr;
  if (IsReparsePoint(Native(parent), wide, handle)) {
    CloseHandle(handle);
    return FailWith(ERROR_CANT_ACCESS_FILE), nullptr;
  }
  return AdoptHandle(handle);
}

FileHandle CreateTemporaryIn(FolderHandle parent, const char* finalName, char* temporaryName, uint32_t capacity) {
  if (MustFail(Service::CreateTemporaryIn)) return nullptr;
  std::wstring wide;
  if (!WideName(finalName, &wide)) return FailWith(ERROR_INVALID_NAME), nullptr;
  // A short name of its own, as for every output: one near the longest the system takes
  // still has a temporary, and nobody can plant files under it in advance.
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t random;
    if (!TemporaryRandom(&random)) return nullptr;
    if (!ComposeTemporaryPath(finalName, 0, random, temporaryName, capacity)) {
      return FailWith(ERROR_FILENAME_EXCED_RANGE), nullptr;
    }
    std::wstring temporary;
    WideName(temporaryName, &temporary);
    HANDLE handle;
    const NTSTATUS status = OpenRelative(Native(parent), temporary, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, FILE_CREATE,
                                         FILE_NON_DIRECTORY_FILE, &handle);
    if (status >= 0) return AdoptHandle(handle);
    Failed(status);
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return nullptr;
  }
  return nullptr;
}

namespace {

// Renames within the folder; the NTSTATUS of the open or of the rename.
NTSTATUS Rename(FolderHandle parent, const std::wstring& wideFrom, const std::wstring& wideTo, bool replace) {
  // The rename request: the new name relative to the same parent, in words so that the
  // request is aligned as the system wants it; made before the entry is opened, so that
  // memory running out cannot leave it open.
  const size_t bytes = offsetof(RenameRequest, fileName) + wideTo.size() * sizeof(wchar_t);
  std::vector<uint64_t> words(bytes / sizeof(uint64_t) + 1, 0);
  HANDLE handle;
  NTSTATUS status = OpenRelative(Native(parent), wideFrom, DELETE, kShareAll, FILE_OPEN, 0, &handle);
  if (status < 0) return status;
  auto* rename = reinterpret_cast<RenameRequest*>(words.data());
  rename->replaceIfExists = replace ? TRUE : FALSE;
  rename->rootDirectory = Native(parent);
  rename->fileNameLength = static_cast<ULONG>(wideTo.size() * sizeof(wchar_t));
  std::memcpy(rename->fileName, wideTo.c_str(), wideTo.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io;
  status = NtSetInformationFile(handle, &io, rename, static_cast<ULONG>(bytes), kFileRenameInformation);
  CloseHandle(handle);
  return status;
}

bool OnlyCaseDiffers(const std::wstring& a, const std::wstring& b) {
  return a != b && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
                       CSTR_EQUAL;
}

}  // namespace

int RenameIn(FolderHandle parent, const char* from, const char* to, TakenName taken) {
  if (MustFail(Service::RenameIn)) return 0;
  std::wstring wideFrom, wideTo;
  if (!WideName(from, &wideFrom) || !WideName(to, &wideTo)) return FailWith(ERROR_INVALID_NAME);
  if (!OnlyCaseDiffers(wideFrom, wideTo)) {
    const NTSTATUS status = Rename(parent, wideFrom, wideTo, taken == TakenName::Replace);
    return status < 0 ? Failed(status) : 1;
  }
  // A new name that differs only in case finds the entry itself, and some file systems then
  // keep the old name: the entry goes through a name of its own first.
  char middleName[kTemporaryNameRoom];
  uint64_t random;
  if (!TemporaryRandom(&random) || !ComposeTemporaryPath("", 0, random, middleName, sizeof middleName)) return 0;
  std::wstring middle;
  WideName(middleName, &middle);
  NTSTATUS status = Rename(parent, wideFrom, middle, false);
  if (status < 0) return Failed(status);
  status = Rename(parent, middle, wideTo, false);
  if (status < 0) {
    Rename(parent, middle, wideFrom, false);
    return Failed(status);
  }
  return 1;
}

namespace {

// Opens the entry for deletion as itself and marks it to go when closed.
int Remove(FolderHandle parent, const char* name, ULONG options) {
  std::wstring wide;
  if (!WideName(name, &wide)) return FailWith(ERROR_INVALID_NAME);
  HANDLE handle;
  const NTSTATUS status = OpenRelative(Native(parent), wide, DELETE, kShareAll, FILE_OPEN, options, &handle);
  if (status < 0) return Failed(status);
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const BOOL marked = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  return marked ? 1 : FailWith(error);
}

}  // namespace

int RemoveFileIn(FolderHandle parent, const char* name) {
  if (MustFail(Service::RemoveFileIn)) return 0;
  return Remove(parent, name, FILE_NON_DIRECTORY_FILE);
}

int RemoveFolderIn(FolderHandle parent, const char* name) {
  if (MustFail(Service::RemoveFolderIn)) return 0;
  return Remove(parent, name, FILE_DIRECTORY_FILE);
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
