// Temporary outputs renamed over their final names.
#include "stream/output_file.h"

#include "stream/steps.h"
#include "support/output_path.h"

namespace {

// Creates the temporary of the output whose final path is in place.
SystemError CreateNamedOutput(OutputFile* output, const File* source, HeldFileWaits* waits) {
  {
    // Opened the way an input is, the final name shows whether replacing it would be refused;
    // a missing final file, or a missing folder for it, leaves nothing to protect, and creating
    // the temporary reports a missing folder itself.
    File existing;
    const SystemError probe = OpenInputFile(output->finalPath, waits, &existing);
    if (probe && !probe.Is(SystemErrorKind::FileNotFound) && !probe.Is(SystemErrorKind::PathNotFound)) return probe;
  }
  if (const SystemError failed =
          CreateTemporaryFile(output->finalPath, source, output->temporaryPath, sizeof output->temporaryPath, &output->file)) {
    return failed;
  }
  output->created = TemporaryHasName(output->file);
  return SystemError{};
}

}  // namespace

SystemError OutputPathFor(char* finalPath, const char* outputFolder, const char* sourcePath, const char* extension,
                          OutputNamer nameOutput) {
  if (nameOutput == nullptr) nameOutput = &BuildOutputPath;
  if (const SystemError failed = PutPathIntoBuffer(finalPath, outputFolder)) return failed;
  return nameOutput(finalPath, sourcePath, extension);
}

SystemError CreateOutput(OutputFile* output, const char* outputFolder, const char* sourcePath, const File& source,
                         const char* extension, OutputNamer nameOutput, HeldFileWaits* waits) {
  if (const SystemError failed = OutputPathFor(output->finalPath, outputFolder, sourcePath, extension, nameOutput)) {
    return failed;
  }
  return CreateNamedOutput(output, &source, waits);
}

SystemError CreateFolderOutput(OutputFile* output, const char* outputFolder, const char* folderPath, const char* extension,
                               HeldFileWaits* waits) {
  if (const SystemError failed = PutPathIntoBuffer(output->finalPath, outputFolder)) return failed;
  if (const SystemError failed = BuildFolderOutputPath(output->finalPath, folderPath, extension)) return failed;
  return CreateNamedOutput(output, nullptr, waits);
}

Committed CommitOutput(OutputFile* output) {
  // The first failure is the one reported; the file is closed whatever happens.
  SystemError failed = FlushFile(output->file);
  if (!failed) {
    failed = NameTemporaryFile(&output->file, output->temporaryPath, sizeof output->temporaryPath);
    output->created = output->created || !failed;
  }
  const SystemError closed = output->file.Close();
  if (!failed) failed = closed;
  if (!failed) failed = ReplaceWithFile(output->temporaryPath, output->finalPath);
  if (failed) {
    output->Abandon();
    return Committed{failed, SystemError{}};
  }
  output->created = false;
  return Committed{SystemError{}, FlushFolderOf(output->finalPath)};
}

Outcome FinishOutput(OutputFile* output) {
  const Committed committed = CommitOutput(output);
  if (committed.failed) return Stopped(Step::WriteOutput, committed.failed);
  Outcome done = DoneOutcome();
  if (committed.folderUnflushed) {
    done.outputMayNotSurvivePowerCut = true;
    done.systemError = committed.folderUnflushed.code;
  }
  done.outputPath = output->finalPath;
  return done;
}

void OutputFile::Abandon() {
  file = File();
  if (created) static_cast<void>(RemoveFile(temporaryPath));
  created = false;
}
