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

// An option is a switch (flag) or takes the next argument as a path (value); the common
// switches have a short form too.
struct OptionForm {
  const char* name;
  const char* shortName;
  unsigned commands;
  bool CliRequest::*flag;
  const char* CliRequest::*value;
};

constexpr OptionForm kOptions[] = {
    {"--quiet", "-q", kEveryCommand, &CliRequest::quiet, nullptr},
    {"--json", "-j", kEveryCommand, &CliRequest::json, nullptr},
    {"--list", nullptr, Of(Command::ScanValid), &CliRequest::listOnStdout, nullptr},
    {"--prove", nullptr, Of(Command::ScanValid), &CliRequest::prove, nullptr},
    {"--check", nullptr, Of(Command::Repair), nullptr, &CliRequest::checkFile},
    {"--no-verify", nullptr, Of(Command::Repair), &CliRequest::noVerify, nullptr},
    {"--follow-up", nullptr, Of(Command::Repair), nullptr, &CliRequest::followUpFolder},
    {"--delete-extra", nullptr, Of(Command::Repair), &CliRequest::deleteExtra, nullptr},
    {"--budget", nullptr, Of(Command::ScanBroken) | Of(Command::Repair), nullptr, &CliRequest::budget},
    {"--plain", nullptr, Of(Command::ScanBroken), &CliRequest::plain, nullptr},
};

bool Names(const OptionForm& option, const char* argument) {
  return std::strcmp(argument, option.name) == 0 ||
         (option.shortName != nullptr && std::strcmp(argument, option.shortName) == 0);
}

int Refuse(std::string* problem, const char* format, const char* argument = "") {
  char text[1024];
  std::snprintf(text, sizeof text, format, argument);
  *problem = text;
  return 0;
}

// "-" alone is no option; a path that begins with "-" follows "--".
bool IsOption(const char* argument) { return argument[0] == '-' && argument[1] != '\0'; }

bool AsksForHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

}  // namespace

int ParseArguments(int argc, char** argv, CliRequest* request, std::string* problem) {
  *request = CliRequest{};
  if (argc < 2) return Refuse(problem, CurrentWords().cli.noCommand);
  const char* first = argv[1];
  if (AsksForHelp(first) || std::strcmp(first, "--version") == 0) {
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
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (AsksForHelp(argv[i])) {
      request->commandHelp = true;
      return 1;
    }
  }

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
        if ((candidate.commands & Of(form->command)) != 0 && Names(candidate, argument)) option = &candidate;
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
    if (std::strcmp(argv[i], "--json") == 0 || std::strcmp(argv[i], "-j") == 0) return true;
  }
  return false;
}
