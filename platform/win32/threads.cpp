// Threads from kernel32. The handle is a record of the thread's handle and its routine, from
// malloc, which no test's replacement of operator new reaches.
#include <windows.h>

#include <cstdlib>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/win32/handles.h"

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

SystemError StartThread(void (*routine)(void* context), void* context, Thread* thread) {
  if (const SystemError failed = Fault(Service::StartThread)) return failed;
  auto* started = static_cast<PlatformThread*>(std::malloc(sizeof(PlatformThread)));
  if (started == nullptr) return Failure(ERROR_NOT_ENOUGH_MEMORY);
  started->routine = routine;
  started->context = context;
  started->handle = CreateThread(nullptr, 0, &Run, started, 0, nullptr);
  if (started->handle == nullptr) {
    const SystemError failed = LastError();
    std::free(started);
    return failed;
  }
  // At the priority of the thread that starts it: the dialog runs its large files' work below
  // its own, and a second thread of that work must not take the dialog's share.
  SetThreadPriority(started->handle, GetThreadPriority(GetCurrentThread()));
  NoteThreadStarted();
  *thread = Thread(started);
  return SystemError{};
}

void Thread::Join() {
  if (handle_ == nullptr) return;
  WaitForSingleObject(handle_->handle, INFINITE);
  CloseHandle(handle_->handle);
  std::free(handle_);
  handle_ = nullptr;
  NoteThreadJoined();
}
