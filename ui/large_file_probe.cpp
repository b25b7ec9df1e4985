// The look at the files before Start picks an engine. Sizes come from the file's attributes,
// which opens nothing: a file that is locked, read-only or missing reaches the dialog's own
// operation exactly as before. Only mode 3's repair file and mode 2's test file have their
// first bytes read, for the large form and the follow-up, which the dialog's own operations
// do not take.
#include "ui/large_file_probe.h"

#include <windows.h>

#include "core/file_kinds.h"
#include "core/repair_file.h"
#include "core/test_file.h"
#include "platform/platform.h"

namespace {

// Folders and devices are no files to size; the operation refuses them in its own words.
bool FileSizeOf(const char* path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return false;
  *size = uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  return true;
}

// Reads the first count bytes, through the same service the operations open their inputs with.
bool ReadStart(const char* path, uint8_t* start, uint32_t count) {
  FileHandle file = OpenInputFile(path);
  if (file == nullptr) return false;
  const bool read = ReadWhole(file, start, count) != 0;
  CloseFile(file);
  return read;
}

// Reads only the header. A large form that is damaged further on still goes to the streaming
// repair, which names it.
bool IsLargeRepairFile(const char* path) {
  uint64_t size;
  if (!FileSizeOf(path, &size) || size < kLargeRepairFileHeaderBytes) return false;
  uint8_t header[kLongestRepairFileHeader];
  const bool read = ReadStart(path, header, sizeof header);
  RepairFileLayout layout;
  if (read) ReadRepairFileLayout(header, size, &layout);
  return read && layout.form == RepairFileForm::Large && layout.validSize >= kLargeFormSize;
}

}  // namespace

bool NamesFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool HoldsFolderExchangeFile(const char* path) {
  uint64_t size;
  uint8_t start[kTagBytes];
  return FileSizeOf(path, &size) && size >= kTagBytes && ReadStart(path, start, sizeof start) &&
         IsFolderExchangeFile(start, size);
}

bool IsFollowUpTestFile(const char* testFilePath) {
  uint64_t size;
  uint8_t start[kTagBytes];
  return FileSizeOf(testFilePath, &size) && size >= kTagBytes && ReadStart(testFilePath, start, sizeof start) &&
         ReadExchangeFileKind(start, size) == ExchangeFileKind::FollowUpTestFile;
}

bool GoesToStreaming(const char* sizingPath, const char* repairFilePath) {
  uint64_t size;
  if (FileSizeOf(sizingPath, &size) && size >= kLargeFormSize) return true;
  return repairFilePath != nullptr && IsLargeRepairFile(repairFilePath);
}
