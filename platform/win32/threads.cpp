// Threads from kernel32. The handle is a record of the thread's handle and its routine, from
// malloc, which no test's replacement of operator new reaches.
#include <windows.h>

#include <cstdlib>

#include "platform/hooks.h"
#include "platform/platform.h"

struct PlatformThread {
  HANDLE handle;
  void (*routine)(void*);
  void* context;
};

namespace {

DWORD WINAPI Run(void* parameter) {
  PlatformThread* thread = static_cast<PlatformThread*>(parameter);
  thread->routine(thread->context);
  return 0;
}

}  // namespace

ThreadHandle StartThread(void (*routine)(void* context), void* context) {
  uint32_t error = 0;
  FaultKind kind = FaultKind::Fail;
  if (TakeFault(Service::StartThread, &error, &kind)) {
    SetLastError(error);
    return nullptr;
  }
  PlatformThread* thread = static_cast<PlatformThread*>(std::malloc(sizeof(PlatformThread)));
  if (thread == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  thread->routine = routine;
  thread->context = context;
  thread->handle = CreateThread(nullptr, 0, &Run, thread, 0, nullptr);
  if (thread->handle == nullptr) {
    const DWORD failure = GetLastError();
    std::free(thread);
    SetLastError(failure);
    return nullptr;
  }
  // At the priority of the thread that starts it: the dialog runs its large files' work below
  // its own, and a second thread of that work must not take the dialog's share.
  SetThreadPriority(thread->handle, GetThreadPriority(GetCurrentThread()));
  NoteThreadStarted();
  return thread;
}

void JoinThread(ThreadHandle thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  std::free(thread);
  NoteThreadJoined();
}
