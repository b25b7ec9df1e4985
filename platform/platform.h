// The few operating-system services the operations and the support routines need. Each backend
// (platform/win32, platform/posix) provides all of them; the build picks one. Every service
// that can fail returns a SystemError, its outputs last; what a service hands out is a handle
// that releases it when it goes out of scope.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/file_stamp.h"

// Owner of a message box: the dialog's window handle on Windows, unused elsewhere.
using WindowHandle = void*;

// Message box types, with the values the Windows message box uses.
inline constexpr unsigned kBoxOk = 0x00;
inline constexpr unsigned kBoxIconError = 0x10;
inline constexpr unsigned kBoxIconInformation = 0x40;

// The unit in which the ledger counts committed memory, the smallest page either system has.
inline constexpr uint32_t kPageSize = 4096;

// The one separator the path routines know: '\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

// Portable names for the codes the operations set themselves and the ones their callers meet
// most.
enum class SystemErrorKind {
  InvalidName,
  NameTooLong,
  FileTooLarge,
  NotEnoughMemory,
  EndOfFile,  // a read met the end of the file: the file is shorter than when it was measured
  DiskFull,
  AccessDenied,
  FileNotFound,
  PathNotFound,
  SharingViolation,
  InvalidParameter,  // among others, a request for 0 bytes of memory
  NotRegularFile,    // a device, pipe or socket where a file is needed
  IsFolder,
  IsLink,            // a symbolic link, junction or other reparse point where a file or folder is needed
  AlreadyExists,
  NotFolder,         // a file or something else where a folder is needed
  NotEmpty,          // a folder that still holds entries
  LockViolation,     // another program locks the bytes a read asks for
  ShortNameOfOther,  // a name the folder does not list, which the system takes for another entry's short name
};
uint32_t SystemErrorCode(SystemErrorKind kind);

// What a call that can fail came to: the system's error code, 0 when it succeeded, so that the
// reason travels with the failure as a value. True when the call failed.
struct [[nodiscard]] SystemError {
  uint32_t code = 0;
  // A file another program holds (IsHeldByAnotherProgram): that program's name (UTF-8), where
  // the system could tell, or null. Kept by the HeldFileWaits the handle was opened with, until
  // a later call through them gives up on a held file.
  const char* holder = nullptr;

  explicit operator bool() const { return code != 0; }
  bool Is(SystemErrorKind kind) const { return code == SystemErrorCode(kind); }
};
// The failure of that kind, for what the operations refuse themselves.
inline SystemError ErrorOf(SystemErrorKind kind) { return SystemError{SystemErrorCode(kind)}; }

// Whether an error code says that another program holds the file.
bool IsHeldByAnotherProgram(uint32_t systemError);

// Files another program holds open. An operation makes one of these with its stop flag (which
// may be null) and passes it to the calls that open its files and folders by their paths; each
// handle keeps it, and so does every file and folder opened in a folder it keeps. With it, an
// open, a rename or a removal refused because another program holds the file, and a read
// refused because it locks the bytes, are tried again after growing pauses (core/held_files.h)
// until the file is free, the entry's or the run's time is used up, or the stop is set; on
// whatever thread the call is made. Without it (null) they fail at once. Only Windows holds
// files this way; elsewhere nothing waits. It must outlive the handles that keep it.
class HeldFileWaits {
 public:
  explicit HeldFileWaits(const std::atomic<bool>* stop) : stop_(stop) {}
  HeldFileWaits(const HeldFileWaits&) = delete;
  HeldFileWaits& operator=(const HeldFileWaits&) = delete;

  bool StopAsked() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

  // The backend's: the time waited for the entry under way and in the whole run, and the names
  // of the programs that held the file the last call gave up on.
  static constexpr uint32_t kHolderRoom = 512;
  std::atomic<uint32_t> entryWaitedMs{0};
  std::atomic<uint32_t> runWaitedMs{0};
  char holder[kHolderRoom] = {};

 private:
  const std::atomic<bool>* stop_;
};

// An open file, released (closed) when it goes out of scope; moved, never copied. Null (false)
// when it holds no file. A file that was written is closed with Close(), which reports a write
// the system could not keep; the close of the destructor is for the paths that failed already.
struct PlatformFile;
class File {
 public:
  File() = default;
  ~File() { Release(); }
  File(File&& other) noexcept { Swap(other); }
  File& operator=(File&& other) noexcept {
    File taken(static_cast<File&&>(other));
    Swap(taken);
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  // Closes the file; a failure says that something written could not be kept. The file is
  // closed either way.
  SystemError Close();

  // The backends': the handle as they made it, the waits it keeps, and whether it is a
  // temporary without a name on disk yet.
  File(PlatformFile* handle, HeldFileWaits* waits, bool unnamed) : handle_(handle), waits_(waits), unnamed_(unnamed) {}
  PlatformFile* handle() const { return handle_; }
  HeldFileWaits* waits() const { return waits_; }
  bool unnamed() const { return unnamed_; }
  void Named() { unnamed_ = false; }

 private:
  void Release();
  void Swap(File& other) noexcept {
    PlatformFile* handle = handle_;
    handle_ = other.handle_;
    other.handle_ = handle;
    HeldFileWaits* waits = waits_;
    waits_ = other.waits_;
    other.waits_ = waits;
    const bool unnamed = unnamed_;
    unnamed_ = other.unnamed_;
    other.unnamed_ = unnamed;
  }

  PlatformFile* handle_ = nullptr;
  HeldFileWaits* waits_ = nullptr;
  bool unnamed_ = false;
};

enum class FileAccess : uint8_t { ReadOnly, ReadWrite };

// Files, by their path texts: UTF-8 on Windows, which reach the system as UTF-16 (beyond 260
// units in the form that takes any length), and the system's bytes on Linux. An input file is
// opened for reading, or for reading and writing, shared for reading only, and must exist: a
// file that is only read opens on a read-only share, a disc or a file saved read-only. Only
// regular files are taken: a folder, a device, a pipe or a socket is refused before anything
// is read or written (and a device is never opened at all where its name shows it).
SystemError OpenInputFile(const char* path, HeldFileWaits* waits, File* file, FileAccess access = FileAccess::ReadWrite);

// Reads and writes at an offset move exactly count bytes or fail: fewer bytes is a failure (end
// of file for a read, a full disk for a write), never a silent success. SetFileLength cuts the
// file or extends it with zero bytes.
SystemError GetFileSize64(const File& file, uint64_t* size);
SystemError ReadAt(const File& file, uint64_t offset, void* buffer, uint32_t count);
SystemError WriteAt(const File& file, uint64_t offset, const void* buffer, uint32_t count);
SystemError SetFileLength(const File& file, uint64_t length);
// Pushes everything written to the file down to its device; until it succeeds, a write is
// not known to have happened.
SystemError FlushFile(const File& file);

// Outputs that appear whole or not at all: a new file in finalPath's folder under a short name
// of its own that nobody can guess in advance, taken only if nothing has it (written to
// temporaryPath, capacity bytes), later renamed over finalPath, which replaces any older file
// of that name in one step; or removed when the output is abandoned. The file is readable by
// no more people than source, the file whose contents it carries, when there is one (POSIX
// permission bits; on Windows it takes its folder's access, as any new file there does).
SystemError CreateTemporaryFile(const char* finalPath, const File* source, char* temporaryPath, uint32_t capacity,
                                File* file);
SystemError ReplaceWithFile(const char* temporaryPath, const char* finalPath);
// After the rename, which is the commit: pushes the folder that holds path down to its device,
// so that the new name survives a power cut. A failure only when that flush failed; a folder
// that cannot even be opened for it (one the user may write but not list) is left as it is,
// since the rename stands either way.
SystemError FlushFolderOf(const char* path);
SystemError RemoveFile(const char* path);

// Folders, for whole trees. A folder is opened once by its path text; everything below it is
// reached one name at a time relative to an open parent, so that no link is ever followed:
// a symbolic link, a junction or a mount point met where a folder or a file is asked for is
// refused with IsLink, and listed as EntryKind::Link, and so is a reparse point of a kind
// nobody knows. A reparse point that keeps the file or folder itself (a cloud file, a file
// the system compressed or deduplicated, core/reparse_points.h) is the file or folder. Names
// are one component each, in UTF-8 on Windows (where the wide calls take them, so any letter
// and any depth work) and as the system's bytes on Linux. Nothing here ever creates a link.
// A name that the folder does not list but that the system takes for another entry's short
// name (LONGFI~1.TXT) is refused with ShortNameOfOther wherever it is asked for.
struct PlatformFolder;
class FolderHandle {
 public:
  FolderHandle() = default;
  ~FolderHandle() { Release(); }
  FolderHandle(FolderHandle&& other) noexcept { Swap(other); }
  FolderHandle& operator=(FolderHandle&& other) noexcept {
    FolderHandle taken(static_cast<FolderHandle&&>(other));
    Swap(taken);
    return *this;
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }

  // The backends'.
  FolderHandle(PlatformFolder* handle, HeldFileWaits* waits) : handle_(handle), waits_(waits) {}
  PlatformFolder* handle() const { return handle_; }
  HeldFileWaits* waits() const { return waits_; }

 private:
  void Release();
  void Swap(FolderHandle& other) noexcept {
    PlatformFolder* handle = handle_;
    handle_ = other.handle_;
    other.handle_ = handle;
    HeldFileWaits* waits = waits_;
    waits_ = other.waits_;
    other.waits_ = waits;
  }

  PlatformFolder* handle_ = nullptr;
  HeldFileWaits* waits_ = nullptr;
};

enum class EntryKind : uint8_t { File, Folder, Link, Other };

struct FolderEntry {
  const char* name;
  EntryKind kind;
  uint64_t size;  // of a file; 0 otherwise
  bool fetchedWhenRead = false;  // a file kept elsewhere (only in the cloud): reading it fetches it
};

// Whether a path text names a folder (a link to one included), which the programs hand to the
// folder operations; false when it names anything else or nothing can be looked at.
bool NamesFolder(const char* path);
// Opens the folder a path text names (as for files); a path that names a link itself is
// refused. Folders below are taken by the same rules, and keep the same waits.
SystemError OpenFolder(const char* path, HeldFileWaits* waits, FolderHandle* folder);
SystemError OpenSubfolder(const FolderHandle& parent, const char* name, FolderHandle* folder);
// Makes a new folder; AlreadyExists when the name is taken.
SystemError CreateSubfolder(const FolderHandle& parent, const char* name);
// Calls visit for every entry but "." and "..", in the system's order. visit returns a failure
// to end the listing early, which the listing then returns.
using FolderEntryVisitor = SystemError (*)(void* context, const FolderEntry& entry);
SystemError ListFolder(const FolderHandle& folder, FolderEntryVisitor visit, void* context);
// What the name is, without following it; FileNotFound when there is nothing of that name.
SystemError GetEntryKind(const FolderHandle& parent, const char* name, EntryKind* kind);
// A regular file in the folder, for reading only or for reading and writing (then shared
// for reading only, like an input file).
SystemError OpenFileIn(const FolderHandle& parent, const char* name, FileAccess access, File* file);
// OpenFileIn for reading, then GetFileSize64, as one: where the system allows, the look at the
// open file that refuses what is no regular file gives the size too, a call fewer per file of a
// folder scan. A failure of the size sets *sizeFailed, and nothing is left open.
SystemError OpenFileInWithSize(const FolderHandle& parent, const char* name, File* file, uint64_t* size, bool* sizeFailed);
// A new file beside finalName under a name of its own (written to temporaryName, capacity
// bytes), for RenameIn over finalName once complete.
// The room such a name needs, its ending zero included: the name is short and of a fixed
// length (".varnell-", twelve characters, ".tmp"), whatever finalName is.
inline constexpr uint32_t kTemporaryNameRoom = 32;
SystemError CreateTemporaryIn(const FolderHandle& parent, const char* finalName, char* temporaryName, uint32_t capacity,
                              File* file);
// The same for a file a folder repair makes whole: it has the valid file's permission bits
// (kNoPermissions: those any new file gets) from its creation, where the umask may narrow them,
// and then exactly those, never wider at any time; made as root, it belongs to the folder's owner
// and group. On Windows it takes the folder's security, as any new file there does.
SystemError CreateTemporaryIn(const FolderHandle& parent, const char* finalName, uint32_t permissions, char* temporaryName,
                              uint32_t capacity, File* file);
// Renames an entry within the folder: replacing a file of the new name, or refusing with
// AlreadyExists when the name is taken (a name that differs only in letter case renames the
// entry itself where the file system ignores case). Made durable before it returns.
enum class TakenName : uint8_t { Refuse, Replace };
SystemError RenameIn(const FolderHandle& parent, const char* from, const char* to, TakenName taken);
// Removes a file (never what a link points to) or an empty folder. Where the system can, the
// name goes at once even while another program still has the entry open and lets it go.
SystemError RemoveFileIn(const FolderHandle& parent, const char* name);
SystemError RemoveFolderIn(const FolderHandle& parent, const char* name);
// Whether the file system of an open folder takes two names that differ only in letter case
// for one: always on Windows; on Linux by the file system, the folder's flag and its mount
// (core/linux_file_systems.h).
bool FolderIgnoresCase(const FolderHandle& folder);
// NTFS's rule of letter case for one UTF-16 unit: the system's upper case on Windows, the
// table Windows writes on its volumes elsewhere (core/ntfs_upcase.h).
uint16_t UpcaseNameUnit(uint16_t unit);
// Lets this process see cloud files as what they are, placeholders with their tag, where the
// system would otherwise disguise them; called once at start, nothing where it cannot be done.
void ExposeCloudPlaceholders();

// Files with more than one name (hard links): how many names the open file has, and, for a
// copy that is to stand in for it under one of them, its permission bits, its owner and group
// where the system allows them to be given, and its times (Windows: its attributes, times and
// access list, and its named streams). The times go last, once the copy is written.
SystemError GetFileLinkCount(const File& file, uint32_t* links);
SystemError CopyFileAttributes(const File& from, const File& to);

// What an open file keeps beside its bytes (core/file_stamp.h): its permission bits (none on
// Windows, kNoPermissions) and its modification time.
SystemError GetFileStamp(const File& file, FileStamp* stamp);
// Gives a file opened for writing the modification time of stamp, as closely as its file system
// keeps times; its permission bits, owner and access time stay as they are.
SystemError SetModificationTime(const File& file, const FileStamp& stamp);

// What the file systems of this platform allow in a name. Lengths count bytes of UTF-8 on
// Linux and UTF-16 units on Windows (utf16Units).
struct NameLimits {
  bool ignoresCase;        // two names that differ only in letter case name one entry
  bool windowsNames;       // reserved device names and names ending in a dot or a space are refused
  bool utf16Units;
  uint32_t longestComponent;
  uint32_t longestPath;    // of a whole path, the folder's own path included
};
NameLimits FileSystemNameLimits();

// Temporaries that the system removes when the run that made them dies. CreateTemporaryFile and
// CreateTemporaryIn make, where the file system has them, a file without a name (Linux:
// O_TMPFILE) or one that the system deletes when its last handle closes (Windows: a delete
// disposition); elsewhere a named file, held under an exclusive lock (flock) as long as it is
// open. NameTemporaryFile or NameTemporaryIn gives the complete, flushed temporary its name
// (temporaryPath, which may be chosen anew when taken, capacity bytes) and keeps it, before it
// is closed and renamed over its final name; an abandoned temporary is closed, and removed by
// name only once named.
SystemError NameTemporaryFile(File* file, char* temporaryPath, uint32_t capacity);
SystemError NameTemporaryIn(const FolderHandle& parent, File* file, char* temporaryName, uint32_t capacity);
// Whether a temporary has a name on disk (named since it was made, or by NameTemporary...).
inline bool TemporaryHasName(const File& file) { return !file.unnamed(); }
// Removes from the folder the temporaries of earlier runs (".varnell-", twelve letters and
// digits, ".tmp") that no process holds open; a run that still writes one holds it. Spares
// those whose size is one of the spareCount in spareSizes: files an earlier run wrote whole
// and kept for a rename, which the caller may still take. Counts those removed in *removed.
SystemError RemoveStaleTemporariesIn(const FolderHandle& folder, const uint64_t* spareSizes, size_t spareCount,
                                     uint32_t* removed);

// Memory: a zero-filled region, released when it goes out of scope. 0 bytes are refused.
class Memory {
 public:
  Memory() = default;
  ~Memory() { Release(); }
  Memory(Memory&& other) noexcept : region_(other.region_) { other.region_ = nullptr; }
  Memory& operator=(Memory&& other) noexcept {
    Memory taken(static_cast<Memory&&>(other));
    void* region = region_;
    region_ = taken.region_;
    taken.region_ = region;
    return *this;
  }
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;

  explicit operator bool() const { return region_ != nullptr; }
  uint8_t* bytes() const { return static_cast<uint8_t*>(region_); }
  template <typename T>
  T* As() const {
    return static_cast<T*>(region_);
  }
  // Gives the region back now.
  void Release();

  // The backends'.
  explicit Memory(void* region) : region_(region) {}

 private:
  void* region_ = nullptr;
};
SystemError CommitMemory(uint32_t size, Memory* memory);

// A second thread, for the streaming operations' work on what they have read, which calls no
// service here, and for a folder scan's readers (tree/read_ahead.h), which open and read files
// of their own and close them before they end; the services may be called from any thread. The
// thread is joined, waiting for the routine to return, by Join or when it goes out of scope.
struct PlatformThread;
class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(Thread&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Thread& operator=(Thread&& other) noexcept {
    Thread taken(static_cast<Thread&&>(other));
    PlatformThread* handle = handle_;
    handle_ = taken.handle_;
    taken.handle_ = handle;
    return *this;
  }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  void Join();

  // The backends'.
  explicit Thread(PlatformThread* handle) : handle_(handle) {}

 private:
  PlatformThread* handle_ = nullptr;
};
SystemError StartThread(void (*routine)(void* context), void* context, Thread* thread);

// The calling thread's last error, for the dialog's own calls to the system, which set it.
uint32_t LastSystemError();
void SetLastSystemError(uint32_t code);

// The system's description of an error code, allocated by the system, or null when it
// has none. Free it with FreeSystemErrorText.
char* DescribeSystemError(uint32_t code);
void FreeSystemErrorText(char* text);

// Shows a message box (Windows) or prints it (elsewhere), unless the linking program has
// installed a sink, which then receives every box instead. Returns the button pressed.
using MessageBoxSink = int (*)(WindowHandle owner, const char* text, const char* caption, unsigned type);
void InstallMessageBoxSink(MessageBoxSink sink);
int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned type);
