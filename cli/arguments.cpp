// The command line of varnell-cli: a command, its operands and its options.
#include "cli/arguments.h"

#include <cstdio>
#include <cstring>

#include "cli/texts.h"

namespace {

struct CommandForm {
  const char* name;
  Command command;
  int operands;
};

constexpr CommandForm kCommands[] = {
    {"scan-broken", Command::ScanBroken, 2},
    {"scan-valid", Command::ScanValid, 3},
    {"repair", Command::Repair, 2},
};

int Refuse(std::string* problem, const char* format, const char* argument = "") {
  char text[1024];
  std::snprintf(text, sizeof text, format, argument);
  *problem = text;
  return 0;
}

bool IsOption(const char* argument) { return std::strncmp(argument, "--", 2) == 0; }

}  // namespace

int ParseArguments(int argc, char** argv, CliRequest* request, std::string* problem) {
  *request = CliRequest{};
  if (argc < 2) return Refuse(problem, cli_text::kNoCommand);
  const char* first = argv[1];
  if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 || std::strcmp(first, "--version") == 0) {
    if (argc > 2) return Refuse(problem, cli_text::kExtraArgument, argv[2]);
    request->command = first[2] == 'v' ? Command::Version : Command::Help;
    return 1;
  }

  const CommandForm* form = nullptr;
  for (const CommandForm& candidate : kCommands) {
    if (std::strcmp(first, candidate.name) == 0) form = &candidate;
  }
  if (form == nullptr) {
    return Refuse(problem, IsOption(first) ? cli_text::kUnknownOption : cli_text::kUnknownCommand, first);
  }
  request->command = form->command;

  int operands = 0;
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const char* argument = argv[i];
    if (!optionsEnded && IsOption(argument)) {
      if (std::strcmp(argument, "--") == 0) {
        optionsEnded = true;
      } else if (std::strcmp(argument, "--quiet") == 0) {
        if (request->quiet) return Refuse(problem, cli_text::kRepeatedOption, argument);
        request->quiet = true;
      } else if (form->command == Command::ScanValid && std::strcmp(argument, "--list") == 0) {
        if (request->listOnStdout) return Refuse(problem, cli_text::kRepeatedOption, argument);
        request->listOnStdout = true;
      } else if (form->command == Command::Repair && std::strcmp(argument, "--delete-extra") == 0) {
        if (request->deleteExtra) return Refuse(problem, cli_text::kRepeatedOption, argument);
        request->deleteExtra = true;
      } else if (form->command == Command::Repair && std::strcmp(argument, "--check") == 0) {
        if (request->checkFile != nullptr) return Refuse(problem, cli_text::kRepeatedOption, argument);
        if (i + 1 >= argc) return Refuse(problem, cli_text::kOptionNeedsValue, argument);
        request->checkFile = argv[++i];
      } else {
        return Refuse(problem, cli_text::kUnknownOption, argument);
      }
      continue;
    }
    if (operands == form->operands) return Refuse(problem, cli_text::kExtraArgument, argument);
    request->paths[operands++] = argument;
  }
  if (operands < form->operands) return Refuse(problem, cli_text::kMissingArguments, form->name);
  return 1;
}
