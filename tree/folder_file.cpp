// Opening a folder exchange file and telling its kind.
#include "tree/folder_file.h"

#include <algorithm>

#include "stream/steps.h"
#include "support/files_by_path.h"

FileReader FolderFile::Records() const {
  FileReader reader(file, length, buffer, kStreamBufferBytes);
  reader.Seek(kFolderFileHeaderBytes);
  return reader;
}

void FolderFile::ReleaseBuffer() {
  if (buffer != nullptr) ReleaseMemory(buffer);
  buffer = nullptr;
}

Outcome OpenFolderFile(const char* path, ExchangeFileKind kind, const FolderFileSteps& steps, FolderFile* opened,
                       ExchangeFileKind also) {
  opened->file = OpenInputByPath(path);
  if (opened->file == nullptr) return StoppedAt(steps.open);
  if (!GetFileSize64(opened->file, &opened->length)) return StoppedAt(steps.size);
  opened->buffer = static_cast<uint8_t*>(CommitMemory(kStreamBufferBytes));
  if (opened->buffer == nullptr) return StoppedAt(steps.buffer);
  const uint32_t startBytes = static_cast<uint32_t>(std::min<uint64_t>(opened->length, sizeof opened->start));
  if (startBytes > 0 && !ReadAt(opened->file, 0, opened->start, startBytes)) return StoppedAt(steps.read);
  const ExchangeFileKind found = ReadExchangeFileKind(opened->start, opened->length);
  switch (found) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::CompactTestFile:
    case ExchangeFileKind::AskingRepairFile:
      return Refused(steps.oneFile);
    case ExchangeFileKind::FollowUpTestFile:
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::FolderRepairFile:
      if (found != kind && found != also) return Refused(steps.otherKind);
      break;
  }
  return DoneOutcome();
}

void CloseFolderFile(FolderFile* opened) {
  if (opened->file != nullptr) CloseFile(opened->file);
  opened->file = nullptr;
  opened->ReleaseBuffer();
}
