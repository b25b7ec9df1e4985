// The commands of varnell-cli. Each runs the engine's own operation, so output names,
// formats, checks and limits are the dialog's; afterwards it reads back what it reports of
// the file written.
#include "cli/commands.h"

#include <cstdint>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/check_guard.h"
#include "cli/output.h"
#include "cli/texts.h"
#include "engine/byte_order.h"
#include "formats/repair_file.h"
#include "formats/test_file.h"
#include "engine/messages.h"
#include "engine/operations.h"
#include "engine/steps.h"
#include "support/output_path.h"
#include "support/path_buffer.h"
#include "support/report_system_error.h"

namespace {

// A path operand as the engine expects it. The engine knows only the platform's separator,
// so on Windows '/' becomes a backslash (the system takes both). The output name is cut from
// the source path after its last separator, as the dialog's full paths always have one; a
// bare name in the current folder ("movie.avi") gets "." and a separator in front, naming the
// same file and giving the same output name as its full path would.
std::string EnginePath(const char* operand, bool isSource) {
  std::string path(operand);
  for (char& c : path) {
    if (c == '/') c = kPathSeparator;
  }
  if (isSource && path.find(kPathSeparator) == std::string::npos) path = std::string(".") + kPathSeparator + path;
  return path;
}

// The path the operation wrote to: the output folder, the source's stem and the extension.
std::string OutputPath(const char* outputFolder, const char* sourcePath, const char* extension) {
  char path[kPathBufferSize];
  PutPathIntoBuffer(path, outputFolder);
  BuildOutputPath(path, sourcePath, extension);
  return path;
}

// Reads the first count bytes of a file into start and its size into size; 1 on success,
// 0 with the last error set.
int ReadFileStart(const char* path, uint8_t* start, uint32_t count, uint32_t* size) {
  FileHandle file = OpenInputByPath(path);
  if (file == nullptr) return 0;
  const int done = GetFileSize32(file, size) && ReadWhole(file, start, count);
  CloseFile(file);
  return done;
}

int ScanBroken(const CliRequest& request) {
  const std::string broken = EnginePath(request.paths[0], true);
  const std::string outputFolder = EnginePath(request.paths[1], false);
  if (!ScanBrokenFile(nullptr, broken.c_str(), outputFolder.c_str())) return kExitStopped;
  const std::string written = OutputPath(outputFolder.c_str(), broken.c_str(), ".crc");
  uint32_t size = 0;
  uint8_t header[kTestFileHeaderBytes];
  if (!ReadFileStart(written.c_str(), header, sizeof header, &size)) {
    ReportSystemError(nullptr, cli_text::kReadBack);
    return kExitStopped;
  }
  Print(CliOut(), cli_text::kTestFileWritten, written.c_str(), size);
  return kExitDone;
}

// The repair file's header and its list of block numbers.
int ReadDamagedList(const char* path, uint32_t* size, uint32_t* validSize, std::vector<uint32_t>* blocks) {
  FileHandle file = OpenInputByPath(path);
  if (file == nullptr) return 0;
  uint8_t header[kRepairFileHeaderBytes];
  int done = GetFileSize32(file, size) && ReadWhole(file, header, sizeof header);
  if (done) {
    *validSize = LoadU32LE(header);
    const uint32_t count = LoadU32LE(header + 4);
    std::vector<uint8_t> list(4 * uint64_t{count});
    done = count <= kMaxDamagedBlocks && ReadWhole(file, list.data(), 4 * count);
    for (uint32_t j = 0; done && j < count; ++j) blocks->push_back(LoadU32LE(list.data() + 4 * j));
  }
  CloseFile(file);
  return done;
}

int ScanValid(const CliRequest& request) {
  const std::string valid = EnginePath(request.paths[0], true);
  const std::string testFile = EnginePath(request.paths[1], false);
  const std::string outputFolder = EnginePath(request.paths[2], false);
  if (!ScanValidFile(nullptr, valid.c_str(), testFile.c_str(), outputFolder.c_str())) {
    return IdenticalContentsShown() ? kExitIdentical : kExitStopped;
  }
  const std::string written = OutputPath(outputFolder.c_str(), valid.c_str(), ".fix");
  uint32_t size = 0;
  uint32_t validSize = 0;
  std::vector<uint32_t> blocks;
  if (!ReadDamagedList(written.c_str(), &size, &validSize, &blocks)) {
    ReportSystemError(nullptr, cli_text::kReadBack);
    return kExitStopped;
  }
  Print(CliOut(), cli_text::kRepairFileWritten, written.c_str(), size);
  std::FILE* list = request.listOnStdout ? CliOut() : CliErr();
  Print(list, cli_text::kDamagedHeading, static_cast<unsigned>(blocks.size()));
  for (const uint32_t block : blocks) PrintDamagedBlock(list, block, validSize);
  return kExitDone;
}

int Repair(const CliRequest& request) {
  const std::string broken = EnginePath(request.paths[0], false);
  const std::string repairFile = EnginePath(request.paths[1], false);
  if (request.checkFile != nullptr &&
      !BrokenFileMatchesTestFile(broken.c_str(), EnginePath(request.checkFile, false).c_str())) {
    return kExitCheckRefused;
  }
  if (!RepairBrokenFile(nullptr, broken.c_str(), repairFile.c_str())) return kExitStopped;
  // The repair accepted the file, so its header is there; every listed block was put in place.
  uint32_t size = 0;
  uint8_t header[kRepairFileHeaderBytes];
  if (!ReadFileStart(repairFile.c_str(), header, sizeof header, &size)) {
    ReportSystemError(nullptr, message::kReadRepair);
    return kExitStopped;
  }
  Print(CliOut(), cli_text::kRepaired, broken.c_str(), LoadU32LE(header + 4));
  return kExitDone;
}

}  // namespace

int RunCli(int argc, char** argv, std::FILE* out, std::FILE* err) {
  StartCliOutput(out, err);
  CliRequest request;
  std::string problem;
  if (!ParseArguments(argc, argv, &request, &problem)) {
    PrintUsageProblem(problem.c_str());
    return kExitUsage;
  }
  int status = kExitDone;
  switch (request.command) {
    case Command::Help: PrintHelp(); break;
    case Command::Version: Print(out, "%s", cli_text::kVersion); break;
    case Command::ScanBroken: status = ScanBroken(request); break;
    case Command::ScanValid: status = ScanValid(request); break;
    case Command::Repair: status = Repair(request); break;
  }
  std::fflush(out);
  std::fflush(err);
  return status;
}
