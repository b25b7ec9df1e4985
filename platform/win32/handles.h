// What the Windows backend's services share: the fault switch every call asks, a handle
// opened for a file or in a folder becomes a file handle through the same checks, temporary
// names draw on the same randomness, and every call on a file waits the same way while
// another program holds it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/held_files.h"

#include "platform/hooks.h"
#include "platform/platform.h"

// Counts the call; on an armed plain failure sets the last error and returns 1. shortBy,
// where given, receives the bytes a short transfer leaves out.
int MustFail(Service service, DWORD* shortBy = nullptr);

// Takes an open handle as a file handle: refused (and closed) when it is a console, a pipe,
// a socket or a folder.
FileHandle AdoptHandle(HANDLE handle);

// The unpredictable part of a temporary name, from the system's randomness; 0 with the last
// error set.
int TemporaryRandom(uint64_t* random);

// One call's tries while another program holds its file (platform.h: StartHeldFileWaits).
class HeldFileWait {
 public:
  // startsEntry: the call begins the work on an entry (an open, a rename, a removal), whose
  // time starts anew; a read goes on in the time of the entry it reads. Either way the holder
  // named after an earlier call is forgotten.
  explicit HeldFileWait(bool startsEntry);

  // After a failed try, with its error as the last error: true when the call is to be tried
  // again, the pause waited; false to give up, the error kept and, when another program holds
  // the file, its name asked of the system for LastFileHolder. path() gives the file's full
  // path, asked for only then.
  template <typename Path>
  bool Again(Path path) {
    if (!IsHeldError(GetLastError())) return false;
    if (Pause()) return true;
    GiveUp(path);
    return false;
  }
  // For a call that is not tried again: names the holder when another program holds the file.
  template <typename Path>
  void GiveUp(Path path) {
    const DWORD error = GetLastError();
    if (!IsHeldError(error)) return;
    NameHolder(path());
    SetLastError(error);
  }

 private:
  bool Pause();
  static void NameHolder(const std::wstring& path);
  uint32_t tries_ = 0;
};

// Full paths for the Restart Manager: of an open file or folder, of a name in an open
// folder, of a path text in the ANSI code page. Empty when the system cannot say.
std::wstring PathOfHandle(HANDLE handle);
std::wstring PathInFolder(HANDLE folder, const std::wstring& name);
std::wstring PathOfText(const char* path);
