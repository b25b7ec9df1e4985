// Narrow texts are UTF-8 here, which is what terminals show: they go out as they are.
#include "cli/console.h"

#include <signal.h>
#include <unistd.h>

namespace {

std::atomic<bool>* interruptFlag = nullptr;
// The first signal that came: the one the process ends by.
std::atomic<int> caughtSignal{0};

void OnInterrupt(int signal) {
  int none = 0;
  caughtSignal.compare_exchange_strong(none, signal);
  if (interruptFlag != nullptr) interruptFlag->store(true);
}

}  // namespace

void WriteText(std::FILE* stream, const char* text) { std::fputs(text, stream); }

bool StreamWritten(std::FILE* stream) { return std::fflush(stream) == 0 && std::ferror(stream) == 0; }

bool IsTerminal(std::FILE* stream) {
  const int descriptor = fileno(stream);
  return descriptor >= 0 && isatty(descriptor) == 1;
}

void StopOnInterrupt(std::atomic<bool>* stop) {
  interruptFlag = stop;
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Ctrl-C, a service stopped, an ssh session dropped: each stops at a block boundary and
  // cleans up, where the default would end the process with a temporary file left behind.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before = {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int InterruptSignal() { return caughtSignal.load(); }

void EndByInterruptSignal() {
  const int signal = caughtSignal.load();
  if (signal == 0) return;
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}
