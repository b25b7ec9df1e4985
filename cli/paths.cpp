// A run's paths, and the names its outputs get, by the same naming functions the operations use.
#include "cli/paths.h"

#include "cli/output_name.h"
#include "platform/platform.h"
#include "support/output_path.h"
#include "support/path_buffer.h"
#include "support/strip_last_component.h"

namespace {

// The operations know only the platform's separator, so on Windows '/' becomes a backslash
// (the system takes both).
std::string EnginePath(const char* operand) {
  std::string path(operand != nullptr ? operand : "");
  for (char& c : path) {
    if (c == '/') c = kPathSeparator;
  }
  return path;
}

std::string FolderOperand(const char* operand) {
  return WithoutTrailingSeparators(EnginePath(operand), kPathSeparator);
}

// The folder that holds path: a bare name is in the current folder, a name right under the
// root in the root.
std::string HoldingFolder(const std::string& path) {
  char buffer[kPathBufferSize];
  if (const SystemError tooLong = PutPathIntoBuffer(buffer, path.c_str())) return ".";
  StripLastComponent(buffer, kPathBufferSize);
  if (buffer[0] == '\0') return path[0] == kPathSeparator ? std::string(1, kPathSeparator) : ".";
  return buffer;
}

// The output of the run's input in folder, named as the operations name it; the folder itself
// where no name can be made (the operation then stops before it has one).
std::string OutputIn(const std::string& folder, const RunPaths& paths, const char* extension) {
  char buffer[kPathBufferSize];
  if (const SystemError tooLong = PutPathIntoBuffer(buffer, folder.c_str())) return folder;
  const SystemError unnamed = paths.folder ? BuildFolderOutputPath(buffer, paths.input.c_str(), extension)
                                           : NameOutputAfterFile(buffer, paths.input.c_str(), extension);
  return unnamed ? folder : std::string(buffer);
}

}  // namespace

std::string WithoutTrailingSeparators(std::string folder, char separator) {
  size_t end = folder.size();
  while (end > 0 && folder[end - 1] == separator) --end;
  // A root keeps its separator: "/" stays, "C:\" is not the drive's current folder "C:".
  if (end < folder.size() && (end == 0 || folder[end - 1] == ':')) ++end;
  folder.resize(end);
  return folder;
}

RunPaths PathsOf(const CliRequest& request) {
  RunPaths paths;
  paths.command = request.command;
  paths.input = EnginePath(request.paths[0]);
  paths.folder = NamesFolder(paths.input.c_str());
  switch (request.command) {
    case Command::ScanBroken: paths.outputFolder = FolderOperand(request.paths[1]); break;
    case Command::ScanValid:
      paths.testFile = EnginePath(request.paths[1]);
      paths.outputFolder = FolderOperand(request.paths[2]);
      break;
    case Command::Repair:
      paths.repairFile = EnginePath(request.paths[1]);
      if (request.checkFile != nullptr) paths.testFile = EnginePath(request.checkFile);
      // Beside the broken file or folder unless given: "photos/" is beside photos, not in it.
      paths.followUpFolder = request.followUpFolder != nullptr
                                 ? FolderOperand(request.followUpFolder)
                                 : HoldingFolder(WithoutTrailingSeparators(paths.input, kPathSeparator));
      break;
    case Command::Verify: paths.repairFile = EnginePath(request.paths[1]); break;
    case Command::Help:
    case Command::Version: break;
  }
  return paths;
}

std::string SubjectPath(const RunPaths& paths, Subject subject, const std::string& at) {
  switch (subject) {
    case Subject::Input: {
      if (at.empty()) return paths.input;
      std::string entry = WithoutTrailingSeparators(paths.input, kPathSeparator);
      if (entry.empty() || entry.back() != kPathSeparator) entry += kPathSeparator;
      return entry + EnginePath(at.c_str());
    }
    case Subject::TestFile: return paths.testFile.empty() ? paths.input : paths.testFile;
    case Subject::RepairFile: return paths.repairFile;
    case Subject::Output:
      return OutputIn(paths.outputFolder, paths, paths.command == Command::ScanBroken ? ".crc" : ".fix");
    case Subject::FollowUp: return OutputIn(paths.followUpFolder, paths, ".crc");
  }
  return paths.input;
}
