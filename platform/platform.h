// The few operating-system services the operations and the support routines need. Each backend
// (platform/win32, platform/posix) provides all of them; the build picks one. Every service
// returns 1 on success and 0 on failure, leaving the system's last error set for the report.
#pragma once

#include <atomic>
#include <cstdint>

// Owner of a message box: the dialog's window handle on Windows, unused elsewhere.
using WindowHandle = void*;

// An open file. Null means "no file": it is never a valid handle.
struct PlatformFile;
using FileHandle = PlatformFile*;

// Message box types, with the values the Windows message box uses.
inline constexpr unsigned kBoxOk = 0x00;
inline constexpr unsigned kBoxIconError = 0x10;
inline constexpr unsigned kBoxIconInformation = 0x40;

inline constexpr uint32_t kPageSize = 4096;

// The one separator the path routines know: '\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

// Files, by their path texts: UTF-8 on Windows, which reach the system as UTF-16 (beyond 260
// units in the form that takes any length), and the system's bytes on Linux. Input files are
// opened for reading and writing, shared for reading only, and must exist; output files are
// created or emptied. Both return null on failure. Only regular files are taken: a folder, a
// device, a pipe or a socket is refused before anything is read or written (and a device is
// never opened at all where its name shows it).
FileHandle OpenInputFile(const char* path);
FileHandle CreateOutputFile(const char* path);
// The size in bytes; refused (with the system's "file too large") when it needs more than
// 32 bits or is 0xFFFFFFFF, which the file formats cannot carry.
int GetFileSize32(FileHandle file, uint32_t* size);
// Reads or writes exactly count bytes at the current position. Fewer bytes is a failure
// (end of file for a read, a full disk for a write), never a silent success.
int ReadWhole(FileHandle file, void* buffer, uint32_t count);
int WriteWhole(FileHandle file, const void* buffer, uint32_t count);
int SeekToStart(FileHandle file);
// Pushes everything written to the file down to its device; until it succeeds, a write is
// not known to have happened.
int FlushFile(FileHandle file);
// Closes the file. 0 when the system reports that something written could not be kept; the
// handle is gone either way.
int CloseFile(FileHandle file);

// The same files in 64 bits, for the streaming operations. Reads and writes at an offset
// move exactly count bytes or fail, like ReadWhole and WriteWhole, and leave the position
// unspecified. SetFileLength cuts the file or extends it with zero bytes.
int GetFileSize64(FileHandle file, uint64_t* size);
int ReadAt(FileHandle file, uint64_t offset, void* buffer, uint32_t count);
int WriteAt(FileHandle file, uint64_t offset, const void* buffer, uint32_t count);
int SetFileLength(FileHandle file, uint64_t length);

// Outputs that appear whole or not at all: a new file in finalPath's folder under a short name
// of its own that nobody can guess in advance, taken only if nothing has it (written to
// temporaryPath, capacity bytes), later renamed over finalPath, which replaces any older file
// of that name in one step; or removed when the output is abandoned. The file is readable by
// no more people than source, the file whose contents it carries (POSIX permission bits; on
// Windows it takes its folder's access, as any new file there does).
FileHandle CreateTemporaryFile(const char* finalPath, FileHandle source, char* temporaryPath, uint32_t capacity);
int ReplaceWithFile(const char* temporaryPath, const char* finalPath);
// After the rename, which is the commit: pushes the folder that holds path down to its device,
// so that the new name survives a power cut. 0 only when that flush failed, with the last
// error set; a folder that cannot even be opened for it (one the user may write but not list)
// is left as it is, since the rename stands either way.
int FlushFolderOf(const char* path);
int RemoveFile(const char* path);

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
using FolderHandle = PlatformFolder*;

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
// refused. Folders below are taken by the same rules.
FolderHandle OpenFolder(const char* path);
FolderHandle OpenSubfolder(FolderHandle parent, const char* name);
// Makes a new folder; AlreadyExists when the name is taken.
int CreateSubfolder(FolderHandle parent, const char* name);
void CloseFolder(FolderHandle folder);
// Calls visit for every entry but "." and "..", in the system's order. visit returns 0 to
// end the listing early, which then returns 0 with the last error as visit left it.
using FolderEntryVisitor = int (*)(void* context, const FolderEntry& entry);
int ListFolder(FolderHandle folder, FolderEntryVisitor visit, void* context);
// What the name is, without following it; FileNotFound when there is nothing of that name.
int GetEntryKind(FolderHandle parent, const char* name, EntryKind* kind);
// A regular file in the folder, for reading only or for reading and writing (then shared
// for reading only, like an input file).
enum class FileAccess : uint8_t { ReadOnly, ReadWrite };
FileHandle OpenFileIn(FolderHandle parent, const char* name, FileAccess access);
// A new file beside finalName under a name of its own (written to temporaryName, capacity
// bytes), for RenameIn over finalName once complete.
// The room such a name needs, its ending zero included: the name is short and of a fixed
// length (".varnell-", twelve characters, ".tmp"), whatever finalName is.
inline constexpr uint32_t kTemporaryNameRoom = 32;
FileHandle CreateTemporaryIn(FolderHandle parent, const char* finalName, char* temporaryName, uint32_t capacity);
// Renames an entry within the folder: replacing a file of the new name, or refusing with
// AlreadyExists when the name is taken (a name that differs only in letter case renames the
// entry itself where the file system ignores case). Made durable before it returns.
enum class TakenName : uint8_t { Refuse, Replace };
int RenameIn(FolderHandle parent, const char* from, const char* to, TakenName taken);
// Removes a file (never what a link points to) or an empty folder. Where the system can, the
// name goes at once even while another program still has the entry open and lets it go.
int RemoveFileIn(FolderHandle parent, const char* name);
int RemoveFolderIn(FolderHandle parent, const char* name);
// Whether the file system of an open folder takes two names that differ only in letter case
// for one: always on Windows; on Linux by the file system, the folder's flag and its mount
// (core/linux_file_systems.h).
bool FolderIgnoresCase(FolderHandle folder);
// NTFS's rule of letter case for one UTF-16 unit: the system's upper case on Windows, the
// table Windows writes on its volumes elsewhere (core/ntfs_upcase.h).
uint16_t UpcaseNameUnit(uint16_t unit);
// Lets this process see cloud files as what they are, placeholders with their tag, where the
// system would otherwise disguise them; called once at start, nothing where it cannot be done.
void ExposeCloudPlaceholders();

// Files another program holds open. While a thread waits for them (between
// StartHeldFileWaits and EndHeldFileWaits), an open, a rename or a removal refused because
// another program holds the file, and a read refused because it locks the bytes, are tried
// again after growing pauses (core/held_files.h) until the file is free, the entry's or the
// run's time is used up, or *stop (which may be null) is set. Otherwise they fail at once.
// Only Windows holds files this way; elsewhere these do nothing.
void StartHeldFileWaits(const std::atomic<bool>* stop);
void EndHeldFileWaits();
class HeldFileWaits {
 public:
  explicit HeldFileWaits(const std::atomic<bool>* stop) { StartHeldFileWaits(stop); }
  ~HeldFileWaits() { EndHeldFileWaits(); }
  HeldFileWaits(const HeldFileWaits&) = delete;
  HeldFileWaits& operator=(const HeldFileWaits&) = delete;
};
// Whether an error code says that another program holds the file.
bool IsHeldByAnotherProgram(uint32_t systemError);
// After a call that failed because another program holds the file: that program's name
// (UTF-8) where the system can tell (the Restart Manager), empty otherwise. Kept until the
// next call that opens, reads, renames or removes a file on this thread.
const char* LastFileHolder();

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

// Memory. CommitMemory gives a zero-filled region of size bytes (0 bytes is refused);
// ReserveMemory gives address space without memory, in which CommitPage makes one
// zero-filled page usable. ReleaseMemory frees a region of either kind with all its pages.
void* CommitMemory(uint32_t size);
void* ReserveMemory(uint32_t size);
int CommitPage(void* address);
void ReleaseMemory(void* region);

// A second thread, for the streaming operations' work on what they have read. It must call no
// service here: the thread that started it keeps every file, every region and the last error.
// StartThread gives null with the last error set when the thread cannot be had; JoinThread
// waits for the routine to return and releases the thread.
struct PlatformThread;
using ThreadHandle = PlatformThread*;
ThreadHandle StartThread(void (*routine)(void* context), void* context);
void JoinThread(ThreadHandle thread);

// System errors: the calling thread's last error, and portable names for the codes the
// operations set themselves and the ones their callers meet most.
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
uint32_t LastSystemError();
void SetLastSystemError(uint32_t code);
uint32_t SystemErrorCode(SystemErrorKind kind);

// The system's description of an error code, allocated by the system, or null when it
// has none. Free it with FreeSystemErrorText.
char* DescribeSystemError(uint32_t code);
void FreeSystemErrorText(char* text);

// Shows a message box (Windows) or prints it (elsewhere), unless the linking program has
// installed a sink, which then receives every box instead. Returns the button pressed.
using MessageBoxSink = int (*)(WindowHandle owner, const char* text, const char* caption, unsigned type);
void InstallMessageBoxSink(MessageBoxSink sink);
int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned type);
