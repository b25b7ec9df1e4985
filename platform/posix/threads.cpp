// Threads from pthreads. The handle is a record of the thread's id and its routine, from malloc,
// which no test's replacement of operator new reaches.
#include <pthread.h>

#include <cerrno>
#include <cstdlib>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/posix/descriptors.h"

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

SystemError StartThread(void (*routine)(void* context), void* context, Thread* thread) {
  if (const SystemError failed = Fault(Service::StartThread)) return failed;
  auto* started = static_cast<PlatformThread*>(std::malloc(sizeof(PlatformThread)));
  if (started == nullptr) return Failure(ENOMEM);
  started->routine = routine;
  started->context = context;
  if (const int error = pthread_create(&started->id, nullptr, &Run, started)) {
    std::free(started);
    return Failure(error);
  }
  NoteThreadStarted();
  *thread = Thread(started);
  return SystemError{};
}

void Thread::Join() {
  if (handle_ == nullptr) return;
  pthread_join(handle_->id, nullptr);
  std::free(handle_);
  handle_ = nullptr;
  NoteThreadJoined();
}
