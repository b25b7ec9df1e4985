// The seam between the backends and the tests. Every backend service reports what it hands
// out and asks whether it must fail; the shipped programs link no_hooks.cpp, where nothing is
// counted and nothing fails, and the test programs link the fault injection and the ledger.
#pragma once

#include <cstdint>

enum class Service {
  OpenInputFile,
  FlushFile,
  CloseFile,
  GetFileSize64,
  ReadAt,
  WriteAt,
  SetFileLength,
  CreateTemporaryFile,
  ReplaceWithFile,
  FlushFolder,
  RemoveFile,
  CommitMemory,
  OpenFolder,
  OpenSubfolder,
  CreateSubfolder,
  ListFolder,
  GetEntryKind,
  OpenFileIn,
  CreateTemporaryIn,
  RenameIn,
  RemoveFileIn,
  RemoveFolderIn,
  NameTemporary,
  RemoveStaleTemporaries,
  GetFileLinkCount,
  CopyFileAttributes,
  StartThread,
  GetFileStamp,
  SetModificationTime,
  Count
};

enum class FaultKind {
  // The call fails before reaching the system, with the given system error. For CloseFile the
  // file is still closed: the failure is the one a late write error gives.
  Fail,
  // The system transfers one byte fewer than asked and reports success: the short read or
  // write that real disks and networks produce now and then, and that a test cannot cause.
  ShortTransfer,
};

// Counts a call and says whether it is the armed one (from any thread): 1 with the fault filled in when the
// call must misbehave.
int TakeFault(Service service, uint32_t* systemError, FaultKind* kind);

// For the backends: counts the call; true when it must fail, with the system's error in
// *systemError. A short transfer is no failure here: it sets *shortBy, where given, to the bytes
// it leaves out (otherwise 0), and the transfer then comes up short.
inline bool MustFail(Service service, uint32_t* systemError, uint32_t* shortBy) {
  FaultKind kind = FaultKind::Fail;
  if (shortBy != nullptr) *shortBy = 0;
  if (!TakeFault(service, systemError, &kind)) return false;
  if (kind != FaultKind::ShortTransfer || shortBy == nullptr) return true;
  *shortBy = 1;
  return false;
}

// How many readers a folder scan may start for the wanted number: all of them in the shipped
// programs; none in the tests while a fault is armed, so that the nth call of a service is the
// call it is with the files read one after another, unless the test asks for readers.
uint32_t SideBySideReaders(uint32_t wanted);

// Accounting of open files and memory regions. NoteRegionAcquired returns 0 when the
// accounting has no room left, which the backend treats as memory refused.
void NoteFileOpened(const void* file);
void NoteFileClosed(const void* file);
int NoteRegionAcquired(const void* region, uint64_t size, uint64_t committedBytes);
void NoteRegionReleased(const void* region);
void NoteThreadStarted();
void NoteThreadJoined();

// A test's stand-in for what no test can make for real (a cloud file under Wine): a reparse
// tag, with attributes, that the Windows backend reports for every entry of this name (one
// component, UTF-8) instead of what the system says of it; 0 for the system's own.
uint32_t StandInReparseTag(const char* name, uint32_t* attributes);
