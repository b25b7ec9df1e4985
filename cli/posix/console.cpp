// Narrow texts are UTF-8 here, which is what terminals show: they go out as they are.
#include "cli/console.h"

#include <signal.h>
#include <unistd.h>

namespace {

std::atomic<bool>* interruptFlag = nullptr;

void OnInterrupt(int) {
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
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}
