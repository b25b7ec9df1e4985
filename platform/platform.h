// The few operating-system services the engine and the support routines need. Each backend
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

// Files. Input files are opened for reading and writing, shared for reading only, and must
// exist; output files are created or emptied. Both return null on failure. Only regular files
// are taken: a folder, a device, a pipe or a socket is refused before anything is read or
// written (and a device is never opened at all where its name shows it).
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

// Outputs that appear whole or not at all: a new file beside finalPath under a name of its
// own (written to temporaryPath, capacity bytes), later renamed over finalPath, which replaces
// any older file of that name in one step; or removed when the output is abandoned.
FileHandle CreateTemporaryFile(const char* finalPath, char* temporaryPath, uint32_t capacity);
int ReplaceWithFile(const char* temporaryPath, const char* finalPath);
int RemoveFile(const char* path);

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
// engine sets itself and the ones its callers meet most.
enum class SystemErrorKind {
  InvalidName,
  NameTooLong,
  FileTooLarge,
  NotEnoughMemory,
  EndOfFile,
  DiskFull,
  AccessDenied,
  FileNotFound,
  PathNotFound,
  SharingViolation,
  InvalidParameter,  // among others, a request for 0 bytes of memory
  NotRegularFile,    // a device, pipe or socket where a file is needed
  IsFolder,
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
