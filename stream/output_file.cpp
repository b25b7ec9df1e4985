// Temporary outputs renamed over their final names.
#include "stream/output_file.h"

#include "stream/steps.h"
#include "support/output_path.h"

namespace {

// Whether a missing final file, or a missing folder for it, is what the probe met: then
// there is nothing to protect, and creating the temporary reports a missing folder itself.
bool NothingThere(uint32_t error) {
  return error == SystemErrorCode(SystemErrorKind::FileNotFound) ||
         error == SystemErrorCode(SystemErrorKind::PathNotFound);
}

// Creates the temporary of the output whose final path is in place.
int CreateNamedOutput(OutputFile* output, FileHandle source) {
  // Opened the way an input is, the final name shows whether replacing it would be refused.
  if (FileHandle existing = OpenInputFile(output->finalPath)) {
    CloseFile(existing);
  } else if (!NothingThere(LastSystemError())) {
    return 0;
  }
  output->file = CreateTemporaryFile(output->finalPath, source, output->temporaryPath, sizeof output->temporaryPath);
  if (output->file == nullptr) return 0;
  output->created = TemporaryHasName(output->file);
  return 1;
}

}  // namespace

int CreateOutput(OutputFile* output, const char* outputFolder, const char* sourcePath, FileHandle source,
                 const char* extension, int (*nameOutput)(char*, const char*, const char*)) {
  if (nameOutput == nullptr) nameOutput = &BuildOutputPath;
  if (!PutPathIntoBuffer(output->finalPath, outputFolder) || !nameOutput(output->finalPath, sourcePath, extension)) {
    return 0;
  }
  return CreateNamedOutput(output, source);
}

int CreateFolderOutput(OutputFile* output, const char* outputFolder, const char* folderPath, const char* extension) {
  if (!PutPathIntoBuffer(output->finalPath, outputFolder) ||
      !BuildFolderOutputPath(output->finalPath, folderPath, extension)) {
    return 0;
  }
  return CreateNamedOutput(output, nullptr);
}

Commit CommitOutput(OutputFile* output) {
  // The first failure is the one reported; the file is closed whatever happens.
  int done = FlushFile(output->file);
  uint32_t error = LastSystemError();
  if (done) {
    done = NameTemporaryFile(output->file, output->temporaryPath, sizeof output->temporaryPath);
    error = LastSystemError();
    output->created = output->created || done;
  }
  const int closed = CloseFile(output->file);
  output->file = nullptr;
  if (done && !closed) {
    done = 0;
    error = LastSystemError();
  }
  if (done && !ReplaceWithFile(output->temporaryPath, output->finalPath)) {
    done = 0;
    error = LastSystemError();
  }
  if (!done) {
    AbandonOutput(output);
    SetLastSystemError(error);
    return Commit::Failed;
  }
  output->created = false;
  return FlushFolderOf(output->finalPath) ? Commit::Done : Commit::FolderUnflushed;
}

Outcome FinishOutput(OutputFile* output) {
  const Commit committed = CommitOutput(output);
  if (committed == Commit::Failed) return StoppedAt(Step::WriteOutput);
  Outcome done = DoneOutcome();
  if (committed == Commit::FolderUnflushed) {
    done.outputMayNotSurvivePowerCut = true;
    done.systemError = LastSystemError();
  }
  done.outputPath = output->finalPath;
  return done;
}

void AbandonOutput(OutputFile* output) {
  const uint32_t error = LastSystemError();
  if (output->file != nullptr) CloseFile(output->file);
  output->file = nullptr;
  if (output->created) RemoveFile(output->temporaryPath);
  output->created = false;
  SetLastSystemError(error);
}
