// Threads from pthreads. The handle is a record of the thread's id and its routine, from malloc,
// which no test's replacement of operator new reaches.
#include <pthread.h>

#include <cerrno>
#include <cstdlib>

#include "platform/hooks.h"
#include "platform/platform.h"

struct PlatformThread {
  pthread_t id;
  void (*routine)(void*);
  void* context;
};

namespace {

void* Run(void* parameter) {
  PlatformThread* thread = static_cast<PlatformThread*>(parameter);
  thread->routine(thread->context);
  return nullptr;
}

}  // namespace

ThreadHandle StartThread(void (*routine)(void* context), void* context) {
  uint32_t error = 0;
  FaultKind kind = FaultKind::Fail;
  if (TakeFault(Service::StartThread, &error, &kind)) {
    errno = static_cast<int>(error);
    return nullptr;
  }
  PlatformThread* thread = static_cast<PlatformThread*>(std::malloc(sizeof(PlatformThread)));
  if (thread == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  thread->routine = routine;
  thread->context = context;
  const int started = pthread_create(&thread->id, nullptr, &Run, thread);
  if (started != 0) {
    std::free(thread);
    errno = started;
    return nullptr;
  }
  NoteThreadStarted();
  return thread;
}

void JoinThread(ThreadHandle thread) {
  pthread_join(thread->id, nullptr);
  std::free(thread);
  NoteThreadJoined();
}
