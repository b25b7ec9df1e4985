// The few operating-system services the operations and the support routines need. Each backend
// (platform/win32, platform/posix) provides all of them; the build picks one. Every service
// returns 1 on success and 0 on failure, leaving the system's last error set for the report.
#pragma once

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
// a symbolic link, a junction or another reparse point met where a folder or a file is
// asked for is refused with IsLink, and listed as EntryKind::Link. Names are one component
// each, in UTF-8 on Windows (where the wide calls take them, so any letter and any depth
// work) and as the system's bytes on Linux. Nothing here ever creates a link.
struct PlatformFolder;
using FolderHandle = PlatformFolder*;

enum class EntryKind : uint8_t { File, Folder, Link, Other };

struct FolderEntry {
  const char* name;
  EntryKind kind;
  uint64_t size;  // of a file; 0 otherwise
};

// Whether a path text names a folder (a link to one included), which the programs hand to the
// folder operations; false when it names anything else or nothing can be looked at.
bool NamesFolder(const char* path);
// Opens the folder a path text names (as for files); a path that names a link itself is
// refused.
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
// Removes a file (never what a link points to) or an empty folder.
int RemoveFileIn(FolderHandle parent, const char* name);
int RemoveFolderIn(FolderHandle parent, const char* name);

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
