// Opening a folder exchange file and telling its kind.
#include "tree/folder_file.h"

#include <algorithm>

#include "stream/steps.h"
#include "support/files_by_path.h"

FileReader FolderFile::Records() const {
  FileReader reader(file, length, buffer.bytes(), kStreamBufferBytes);
  reader.Seek(kFolderFileHeaderBytes);
  return reader;
}

Outcome OpenFolderFile(const char* path, HeldFileWaits* waits, ExchangeFileKind kind, const FolderFileSteps& steps,
                       FolderFile* opened, ExchangeFileKind also, ExchangeFileKind alsoThis) {
  if (const SystemError failed = OpenInputByPath(path, FileAccess::ReadOnly, waits, &opened->file)) return Stopped(steps.open, failed);
  if (const SystemError failed = GetFileSize64(opened->file, &opened->length)) return Stopped(steps.size, failed);
  if (const SystemError failed = CommitMemory(kStreamBufferBytes, &opened->buffer)) return Stopped(steps.buffer, failed);
  const uint32_t startBytes = static_cast<uint32_t>(std::min<uint64_t>(opened->length, sizeof opened->start));
  if (startBytes > 0) {
    if (const SystemError failed = ReadAt(opened->file, 0, opened->start, startBytes)) return Stopped(steps.read, failed);
  }
  const ExchangeFileKind found = ReadExchangeFileKind(opened->start, opened->length);
  switch (found) {
    case ExchangeFileKind::Plain:
    case ExchangeFileKind::CompactTestFile:
    case ExchangeFileKind::AskingRepairFile:
      return Refused(steps.oneFile);
    case ExchangeFileKind::FollowUpTestFile:
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::CompactFolderTestFile:
    case ExchangeFileKind::FolderAskingFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::FolderRepairFile:
      if (found != kind && found != also && found != alsoThis) return Refused(steps.otherKind);
      break;
  }
  return DoneOutcome();
}
