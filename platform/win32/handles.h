// What the Windows backend's services share: the fault switch every call asks, the last error
// as a failure, the handles behind File and FolderHandle, a handle opened for a file by its path or
// in a folder becoming a File through the same checks, the temporaries' marks and names, and
// every call on a file waiting the same way while another program holds it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/held_files.h"

#include "platform/hooks.h"
#include "platform/platform.h"

// Counts the call; the armed failure, or none. shortBy, where given, receives the bytes a short
// transfer leaves out.
SystemError Fault(Service service, uint32_t* shortBy = nullptr);

// The last error, or the given code, as a failure; never none, even where a call failed
// without saying why.
SystemError LastError();
SystemError Failure(DWORD error);

inline HANDLE Native(const File& file) { return reinterpret_cast<HANDLE>(file.handle()); }
inline HANDLE Native(const FolderHandle& folder) { return reinterpret_cast<HANDLE>(folder.handle()); }
FolderHandle FolderOf(HANDLE handle, HeldFileWaits* waits);

// Takes an open handle as a File: refused (and closed) when it is a console, a pipe, a socket
// or a folder. unnamed: a temporary marked for deletion when its last handle closes.
SystemError AdoptHandle(HANDLE handle, HeldFileWaits* waits, bool unnamed, File* file);

// Opens a file by its path text for reading and writing, shared for reading only, with
// moreAccess besides, as creation (CreateFileW's) says; a path that names a device is refused
// without being opened. Tried once: the caller waits for a held file.
SystemError OpenByPath(const char* path, DWORD creation, DWORD access, HeldFileWaits* waits, bool unnamed, File* file);

// The unpredictable part of a temporary name, from the system's randomness.
SystemError TemporaryRandom(uint64_t* random);

// A new temporary, opened with delete access (and taken as unnamed), is marked for deletion when
// its last handle closes (the file is closed when that fails); KeepTemporary clears the mark
// once the file is complete, and the file then has a name that outlives it.
SystemError MarkTemporary(File* file);
SystemError KeepTemporary(File* file);

// One call's tries while another program holds its file (platform.h: HeldFileWaits).
class HeldFileWait {
 public:
  // waits: the handle's, or null to give up at once. startsEntry: the call begins the work on
  // an entry (an open, a rename, a removal), whose time starts anew; a read goes on in the time
  // of the entry it reads.
  HeldFileWait(HeldFileWaits* waits, bool startsEntry);

  // After a failed try: true when the call is to be tried again, the pause waited; false to
  // give up, the failure then naming the program that holds the file, where the system says.
  // path() gives the file's full path, asked for only then.
  template <typename Path>
  bool Again(SystemError* failed, Path path) {
    if (!IsHeldError(failed->code)) return false;
    if (Pause()) return true;
    GiveUp(failed, path);
    return false;
  }
  // For a call that is not tried again: names the holder when another program holds the file.
  template <typename Path>
  void GiveUp(SystemError* failed, Path path) {
    if (!IsHeldError(failed->code) || waits_ == nullptr) return;
    if (NameHolder(path())) failed->holder = waits_->holder;
  }

 private:
  bool Pause();
  // Puts the names of the programs that hold path into the waits' holder; false when the
  // system names none.
  bool NameHolder(const std::wstring& path);
  HeldFileWaits* waits_;
  uint32_t tries_ = 0;
};

// Full paths for the Restart Manager: of an open file or folder, of a name in an open
// folder, of a path text (UTF-8). Empty when the system cannot say.
std::wstring PathOfHandle(HANDLE handle);
std::wstring PathInFolder(HANDLE folder, const std::wstring& name);
std::wstring PathOfText(const char* path);
