// The command line of varnell-cli: a command, its operands and its options.
#include "cli/arguments.h"

#include <cstdio>
#include <cstring>

#include "words/words.h"

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
    {"verify", Command::Verify, 2},
};

constexpr unsigned Of(Command command) { return 1u << static_cast<unsigned>(command); }
constexpr unsigned kEveryCommand = Of(Command::ScanBroken) | Of(Command::ScanValid) | Of(Command::Repair) | Of(Command::Verify);

// An option is a switch (flag) or takes the next argument as a path (value).
struct OptionForm {
  const char* name;
  unsigned commands;
  bool CliRequest::*flag;
  const char* CliRequest::*value;
};

constexpr OptionForm kOptions[] = {
    {"--quiet", kEveryCommand, &CliRequest::quiet, nullptr},
    {"--json", kEveryCommand, &CliRequest::json, nullptr},
    {"--list", Of(Command::ScanValid), &CliRequest::listOnStdout, nullptr},
    {"--prove", Of(Command::ScanValid), &CliRequest::prove, nullptr},
    {"--check", Of(Command::Repair), nullptr, &CliRequest::checkFile},
    {"--no-verify", Of(Command::Repair), &CliRequest::noVerify, nullptr},
    {"--follow-up", Of(Command::Repair), nullptr, &CliRequest::followUpFolder},
    {"--delete-extra", Of(Command::Repair), &CliRequest::deleteExtra, nullptr},
    {"--budget", Of(Command::ScanBroken) | Of(Command::Repair), nullptr, &CliRequest::budget},
    {"--plain", Of(Command::ScanBroken), &CliRequest::plain, nullptr},
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
  if (argc < 2) return Refuse(problem, CurrentWords().cli.noCommand);
  const char* first = argv[1];
  if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 || std::strcmp(first, "--version") == 0) {
    if (argc > 2) return Refuse(problem, CurrentWords().cli.extraArgument, argv[2]);
    request->command = first[2] == 'v' ? Command::Version : Command::Help;
    return 1;
  }

  const CommandForm* form = nullptr;
  for (const CommandForm& candidate : kCommands) {
    if (std::strcmp(first, candidate.name) == 0) form = &candidate;
  }
  if (form == nullptr) {
    return Refuse(problem, IsOption(first) ? CurrentWords().cli.unknownOption : CurrentWords().cli.unknownCommand,
                  first);
  }
  request->command = form->command;

  int operands = 0;
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const char* argument = argv[i];
    if (!optionsEnded && IsOption(argument)) {
      if (std::strcmp(argument, "--") == 0) {
        optionsEnded = true;
        continue;
      }
      const OptionForm* option = nullptr;
      for (const OptionForm& candidate : kOptions) {
        if ((candidate.commands & Of(form->command)) != 0 && std::strcmp(argument, candidate.name) == 0) option = &candidate;
      }
      if (option == nullptr) return Refuse(problem, CurrentWords().cli.unknownOption, argument);
      if (option->flag != nullptr) {
        if (request->*option->flag) return Refuse(problem, CurrentWords().cli.repeatedOption, argument);
        request->*option->flag = true;
      } else {
        if (request->*option->value != nullptr) return Refuse(problem, CurrentWords().cli.repeatedOption, argument);
        if (i + 1 >= argc) return Refuse(problem, CurrentWords().cli.optionNeedsValue, argument);
        request->*option->value = argv[++i];
      }
      continue;
    }
    if (operands == form->operands) return Refuse(problem, CurrentWords().cli.extraArgument, argument);
    request->paths[operands++] = argument;
  }
  if (operands < form->operands) return Refuse(problem, CurrentWords().cli.missingArguments, form->name);
  if (request->budget != nullptr && BudgetBytes(request->budget) < kSmallestBudget) {
    return Refuse(problem, CurrentWords().cli.badBudget, request->budget);
  }
  if (request->budget != nullptr && request->plain) return Refuse(problem, CurrentWords().cli.budgetAndPlain);
  return 1;
}

unsigned long long BudgetBytes(const char* text) {
  unsigned long long value = 0;
  const char* c = text;
  for (; *c >= '0' && *c <= '9'; ++c) {
    if (value > (~0ull - 9) / 10) return 0;
    value = value * 10 + static_cast<unsigned>(*c - '0');
  }
  if (c == text) return 0;
  unsigned shift = 0;
  if (*c == 'K' || *c == 'k') shift = 10;
  if (*c == 'M' || *c == 'm') shift = 20;
  if (*c == 'G' || *c == 'g') shift = 30;
  if (shift != 0) ++c;
  if (*c != '\0' || value > (~0ull >> shift)) return 0;
  return value << shift;
}

bool JsonAsked(int argc, char** argv) {
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}
