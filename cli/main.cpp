// varnell-cli: the command-line companion of the dialog, on the streaming operations.
#include <atomic>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/output.h"
#include "cli/texts.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // The system's texts in the user's language, as the dialog gets them on Windows.
  std::setlocale(LC_ALL, "");
  ExposeCloudPlaceholders();
  std::vector<std::string> arguments;
  unsigned unconvertible = 0;
  if (!ProgramArguments(argc, argv, &arguments, &unconvertible)) {
    StartCliOutput(stdout, stderr);
    PrintUsageProblem(Format(cli_text::kArgumentNotInCodePage, unconvertible).c_str());
    return FinishCli(kExitUsage);
  }
  StopOnInterrupt(CliStopFlag());
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return RunCli(static_cast<int>(arguments.size()), pointers.data(), stdout, stderr);
}
