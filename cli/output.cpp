// The texts of varnell-cli and the message-box sink that turns the engine's boxes into lines
// on stderr: the caption, then the text (the system's description of the cause, or the
// program's own words), without the line break that the system's texts may end in.
#include "cli/output.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "cli/console.h"
#include "cli/texts.h"
#include "engine/block.h"
#include "engine/messages.h"
#include "platform/platform.h"

namespace {

std::FILE* outStream = stdout;
std::FILE* errStream = stderr;
bool identicalShown = false;

int PrintBox(WindowHandle, const char* text, const char* caption, unsigned) {
  if (std::strcmp(text, message::kIdentical) == 0 && std::strcmp(caption, message::kAttention) == 0) {
    identicalShown = true;
  }
  std::string body(text);
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r' || body.back() == ' ')) body.pop_back();
  std::string lines = std::string(caption) + "\n";
  if (!body.empty()) lines += body + "\n";
  WriteText(errStream, lines.c_str());
  return 1;
}

}  // namespace

void StartCliOutput(std::FILE* out, std::FILE* err) {
  outStream = out;
  errStream = err;
  identicalShown = false;
  InstallMessageBoxSink(PrintBox);
}

std::FILE* CliOut() { return outStream; }
std::FILE* CliErr() { return errStream; }

bool IdenticalContentsShown() { return identicalShown; }

namespace {
std::string FormatList(const char* format, va_list arguments) {
  char text[2048];
  std::vsnprintf(text, sizeof text, format, arguments);
  return text;
}
}  // namespace

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

void PrintUsageProblem(const char* problem) {
  Print(errStream, cli_text::kUsageProblem, problem);
  WriteText(errStream, cli_text::kSynopsis);
  WriteText(errStream, cli_text::kMoreHelp);
}

void PrintHelp() {
  WriteText(outStream, cli_text::kSynopsis);
  WriteText(outStream, cli_text::kHelp);
}

void PrintDamagedBlock(std::FILE* stream, uint32_t blockNumber, uint32_t validSize) {
  const uint64_t first = uint64_t{blockNumber - 1} * kBlockSize;
  uint64_t end = first + kBlockSize;
  if (end > validSize) end = validSize;
  Print(stream, cli_text::kDamagedBlock, blockNumber, static_cast<unsigned long long>(first),
        static_cast<unsigned long long>(end - 1));
}
