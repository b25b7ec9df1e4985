// The texts of varnell-cli: the program's own words, paths and the system's texts, all UTF-8
// (cli/console.h puts them on a Windows console as letters).
#include "cli/output.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "cli/console.h"
#include "words/words.h"
#include "core/block.h"
#include "words/entry_texts.h"
#include "words/step_texts.h"
#include "platform/platform.h"

namespace {

std::FILE* outStream = stdout;
std::FILE* errStream = stderr;

std::string FormatList(const char* format, va_list arguments) {
  // Whole, however long the paths in it are.
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, arguments);
  return text;
}

void TrimLineEnd(std::string* text) {
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r' || text->back() == ' ')) text->pop_back();
}

}  // namespace

void StartCliOutput(std::FILE* out, std::FILE* err) {
  outStream = out;
  errStream = err;
}

std::FILE* CliOut() { return outStream; }
std::FILE* CliErr() { return errStream; }

std::string Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = FormatList(format, arguments);
  va_end(arguments);
  return text;
}

void Print(std::FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::string text = FormatList(format, arguments);
  va_end(arguments);
  WriteText(stream, text.c_str());
}

namespace {

// One of the program's formats with a text in place of its %s.
void WriteWithUtf8(std::FILE* stream, const char* format, const std::string& utf8) {
  WriteText(stream, Format(format, utf8.c_str()).c_str());
}

// A file another program holds: whom, where the system can tell, and what to do.
void PrintHeld(std::FILE* stream, uint32_t code, const std::string& holder, const char* before, const char* after) {
  const char* held = HeldFormat(code, holder);
  if (held == nullptr) return;
  WriteText(stream, before);
  WriteWithUtf8(stream, held, holder);
  WriteText(stream, after);
}

// The system's description of code, without its line break.
std::string SystemText(uint32_t code) {
  char* text = DescribeSystemError(code);
  std::string body = text != nullptr ? text : "";
  if (text != nullptr) FreeSystemErrorText(text);
  TrimLineEnd(&body);
  return body;
}

}  // namespace

void PrintErrorLine(std::FILE* stream, const std::string& path, const std::string& what, const std::string& reason) {
  std::string failed = what;
  TrimLineEnd(&failed);
  if (reason.empty()) {
    WriteText(stream, Format(CurrentWords().cli.errorLine, path.c_str(), failed.c_str()).c_str());
    return;
  }
  // "Could not open the broken file." reads on as "Could not open the broken file: reason".
  if (!failed.empty() && failed.back() == '.') failed.pop_back();
  const std::string line = Format(CurrentWords().cli.errorLineWithReason, path.c_str(), failed.c_str(), reason.c_str());
  WriteText(stream, line.c_str());
}

void PrintStop(std::FILE* stream, const std::string& path, const Outcome& outcome) {
  if (FoundByProgram(outcome.step)) {
    PrintErrorLine(stream, path, StepMessage(outcome.step));
    return;
  }
  switch (outcome.detail) {
    case StopDetail::None:
      PrintErrorLine(stream, path, StepMessage(outcome.step), SystemText(outcome.systemError));
      PrintHeld(stream, outcome.systemError, outcome.holder, "", "\n");
      return;
    case StopDetail::FileChangedWhileRead:
      PrintErrorLine(stream, path, StepMessage(outcome.step), CurrentWords().cli.fileChangedWhileRead.c_str());
      return;
  }
}

void PrintMayNotSurvivePowerCut(std::FILE* stream, const std::string& path, const Outcome& outcome) {
  PrintErrorLine(stream, path, CurrentWords().cli.mayNotSurvivePowerCut.c_str(), SystemText(outcome.systemError));
}

void PrintCheckRefusal(std::FILE* stream, const std::string& path, const CheckRefusal& why) {
  if (why.finding == CheckFinding::None) return;
  PrintErrorLine(stream, path, CurrentWords().cli.checkFailed + CheckRefusalLine(why));
}

void PrintOtherFile(std::FILE* stream, const std::string& path, const CheckRefusal& why) {
  // Where: what the test file the repair was made from records of it.
  PrintErrorLine(stream, path, CurrentWords().cli.otherFile + CheckRefusalLine(why));
  WriteText(stream, CurrentWords().cli.otherFileNext);
}

std::string CheckRefusalLine(const CheckRefusal& why) {
  std::string line;
  switch (why.finding) {
    case CheckFinding::None: break;
    case CheckFinding::TestFileTooShort: line = CurrentWords().cli.checkTestFileTooShort; break;
    case CheckFinding::TestFileMalformed:
      line = Format(CurrentWords().cli.checkTestFileMalformed, static_cast<unsigned long long>(why.testLength),
                    static_cast<unsigned long long>(why.recordedSize));
      break;
    case CheckFinding::SizeDiffers:
      line = Format(CurrentWords().cli.checkSizeDiffers, static_cast<unsigned long long>(why.brokenSize),
                    static_cast<unsigned long long>(why.recordedSize));
      break;
    case CheckFinding::TestFileForFolder: line = CurrentWords().cli.checkTestFileForFolder; break;
    case CheckFinding::SketchDiffers: line = CurrentWords().cli.checkSketchDiffers; break;
    case CheckFinding::TestFileDiffers: line = CurrentWords().cli.checkTestFileDiffers; break;
    case CheckFinding::AnswersOtherTestFile: line = CurrentWords().cli.checkAnswersOtherTestFile; break;
    case CheckFinding::BlockDiffers:
      line = Format(CurrentWords().cli.checkBlockDiffers, static_cast<unsigned>(why.block),
                    static_cast<unsigned long long>(why.first), static_cast<unsigned long long>(why.last));
      break;
  }
  return line;
}

void PrintDiffering(std::FILE* stream, const Outcome& outcome) {
  std::string text = Format(CurrentWords().cli.differs, static_cast<unsigned>(outcome.differing.size()));
  for (const ByteRange& range : outcome.differing) {
    text += Format(CurrentWords().cli.differingRange, static_cast<unsigned long long>(range.first),
                   static_cast<unsigned long long>(range.last));
  }
  WriteText(stream, (text + CurrentWords().cli.differsWhy.c_str()).c_str());
}

void PrintEntry(std::FILE* stream, const EntryReport& entry) {
  // The format holds the path as %s and maybe a number as %llu before it.
  const std::string format = EventFormat(entry);
  const size_t pathAt = format.find("%s");
  std::string own = format.substr(0, pathAt);
  const size_t number = own.find("%llu");
  if (number != std::string::npos) own.replace(number, 4, std::to_string(entry.blocks));
  WriteText(stream, own.c_str());
  // In the platform's own form: on Windows with backslashes.
  std::string path = entry.path;
  for (char& c : path) {
    if (c == '/') c = kPathSeparator;
  }
  WriteText(stream, path.c_str());
  WriteText(stream, format.substr(pathAt + 2).c_str());
  if (entry.event == EntryEvent::Skipped) {
    WriteText(stream, " — ");
    if (entry.skip == EntrySkip::Unreadable) {
      WriteText(stream, StepMessage(entry.step));
      char* text = DescribeSystemError(entry.systemError);
      std::string body = text != nullptr ? text : "";
      if (text != nullptr) FreeSystemErrorText(text);
      TrimLineEnd(&body);
      if (!body.empty()) WriteText(stream, (" " + body).c_str());
      PrintHeld(stream, entry.systemError, entry.holder, " ", "");
      if (!entry.kept.empty()) {
        WriteText(stream, " ");
        WriteWithUtf8(stream, CurrentWords().entries.kept, entry.kept);
      }
    } else {
      WriteText(stream, SkipReasonText(entry, nullptr).c_str());
    }
  }
  WriteText(stream, "\n");
}

void PrintFetched(std::FILE* stream, const TreeOutcome& result) {
  if (result.fetched == 0) return;
  WriteText(stream, (Format(CurrentWords().entries.fetched, static_cast<unsigned long long>(result.fetched)) + "\n").c_str());
}

void PrintRefusedName(std::FILE* stream, const std::string& path, NameFault fault) {
  WriteText(stream, CurrentWords().cli.refusedName);
  WriteText(stream, path.c_str());
  WriteText(stream, (std::string(" — ") + NameFaultText(fault) + "\n").c_str());
}

void PrintUsageProblem(const char* problem) {
  WriteText(errStream, Format(CurrentWords().cli.usageProblem, problem).c_str());
  WriteText(errStream, CurrentWords().cli.synopsis);
  WriteText(errStream, CurrentWords().cli.moreHelp);
}

void PrintHelp() {
  WriteText(outStream, CurrentWords().cli.synopsis);
  WriteText(outStream, CurrentWords().cli.help);
}

void PrintCommandHelp(Command command) {
  const CliWords& said = CurrentWords().cli;
  switch (command) {
    case Command::ScanBroken: WriteText(outStream, said.scanBrokenHelp); return;
    case Command::ScanValid: WriteText(outStream, said.scanValidHelp); return;
    case Command::Repair: WriteText(outStream, said.repairHelp); return;
    case Command::Verify: WriteText(outStream, said.verifyHelp); return;
    case Command::Help:
    case Command::Version: PrintHelp(); return;
  }
}

void PrintDamagedBlock(std::FILE* stream, uint32_t blockNumber, uint64_t validSize) {
  const uint64_t first = uint64_t{blockNumber - 1} * kBlockSize;
  uint64_t end = first + kBlockSize;
  if (end > validSize) end = validSize;
  Print(stream, CurrentWords().cli.damagedBlock, blockNumber, static_cast<unsigned long long>(first),
        static_cast<unsigned long long>(end - 1));
}
