// varnell-cli: the command-line companion of the dialog, on the streaming operations.
#include <clocale>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/language.h"
#include "core/utf8.h"
#include "platform/platform.h"

namespace {

int Run(std::vector<std::string>& arguments) {
  // The system's texts in the user's language, as the dialog gets them on Windows, and the
  // program's own words in it too.
  std::setlocale(LC_ALL, "");
  UseWords(UserWords());
  ExposeCloudPlaceholders();
  StopOnInterrupt(CliStopFlag());
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const int status = RunCli(static_cast<int>(arguments.size()), pointers.data(), stdout, stderr);
  // Stopped by a signal, the run has cleaned up and said so; it now ends by the signal.
  EndByInterruptSignal();
  return status;
}

}  // namespace

#ifdef _WIN32
// The arguments as the system holds them, in UTF-16, taken into UTF-8 unit by unit: every name
// arrives whole, whatever the ANSI code page (-municode makes this the entry point).
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8FromUtf16(argv[i], std::wcslen(argv[i])));
  return Run(arguments);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  return Run(arguments);
}
#endif
