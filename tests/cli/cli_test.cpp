// The shared part of the varnell-cli tests.
#include "tests/cli/cli_test.h"

#include <cstdio>

#include "cli/commands.h"
#include "words/words.h"
#include "core/fingerprint.h"
#include "platform/platform.h"

namespace {

template <typename... Arguments>
std::string Formatted(const char* format, Arguments... arguments) {
  char text[2048];
  std::snprintf(text, sizeof text, format, arguments...);
  return text;
}

}  // namespace

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

CliOutcome RunCliWith(const ScratchFolder& streams, const std::vector<std::string>& arguments) {
  std::vector<char*> argv{const_cast<char*>("varnell-cli")};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  std::FILE* out = OpenPath(streams.Path("out"), "w+b");
  std::FILE* err = OpenPath(streams.Path("err"), "w+b");
  const int status = RunCli(static_cast<int>(argv.size()), argv.data(), out, err);
  std::fclose(out);
  std::fclose(err);
  return CliOutcome{status, Text(streams.Read("out")), Text(streams.Read("err"))};
}

Bytes Damage(const Bytes& valid, std::initializer_list<uint32_t> blocks) {
  Bytes broken = valid;
  for (const uint32_t block : blocks) broken[(block - 1) * 4096u] ^= 0x5A;
  return broken;
}

std::string Join(const std::string& folder, const std::string& name) { return folder + kPathSeparator + name; }

std::string TestFileWrittenLine(const std::string& path, uint64_t size) {
  return Formatted(kRussian.cli.testFileWritten, path.c_str(), static_cast<unsigned long long>(size));
}

std::string RepairFileWrittenLine(const std::string& path, uint64_t size) {
  return Formatted(kRussian.cli.repairFileWritten, path.c_str(), static_cast<unsigned long long>(size));
}

std::string RepairedLine(const std::string& path, uint32_t blocks) {
  return Formatted(kRussian.cli.repaired, path.c_str(), blocks);
}

std::string DamagedList(const std::vector<std::string>& ranges) {
  std::string list = Formatted(kRussian.cli.damagedHeading, static_cast<unsigned>(ranges.size()));
  for (const std::string& range : ranges) list += range + "\n";
  return list;
}

std::string FingerprintLine(const Bytes& valid) {
  return Formatted(kRussian.cli.fingerprintWritten, Hash128Hex(Xxh3Hash128(valid.data(), valid.size())).c_str());
}

std::string VerifiedLine(const Bytes& valid) {
  return Formatted(kRussian.cli.verified, Hash128Hex(Xxh3Hash128(valid.data(), valid.size())).c_str());
}

std::string ErrorLine(const std::string& path, const std::string& what, const std::string& reason) {
  std::string failed = what;
  std::string why = reason;
  for (std::string* text : {&failed, &why}) {
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r' || text->back() == ' ')) text->pop_back();
  }
  if (why.empty()) return "varnell-cli: " + path + ": " + failed + "\n";
  if (failed.back() == '.') failed.pop_back();
  return "varnell-cli: " + path + ": " + failed + ": " + why + "\n";
}
