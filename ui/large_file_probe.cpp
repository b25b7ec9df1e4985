// The look at the files before Start picks an engine. Sizes come from the file's attributes,
// which opens nothing: a file that is locked, read-only or missing reaches the dialog's own
// operation exactly as before, and nothing is opened twice for the small files.
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

// Reads only the header, through the same service the operations open their inputs with. A
// large form that is damaged further on still goes to the streaming repair, which names it.
bool IsLargeRepairFile(const char* path) {
  uint64_t size;
  if (!FileSizeOf(path, &size) || size < kLargeRepairFileHeaderBytes) return false;
  FileHandle file = OpenInputFile(path);
  if (file == nullptr) return false;
  uint8_t header[kLongestRepairFileHeader];
  const bool read = ReadWhole(file, header, sizeof header) != 0;
  CloseFile(file);
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
  if (!FileSizeOf(path, &size) || size < kTagBytes) return false;
  FileHandle file = OpenInputFile(path);
  if (file == nullptr) return false;
  uint8_t start[kTagBytes];
  const bool read = ReadWhole(file, start, sizeof start) != 0;
  CloseFile(file);
  return read && IsFolderExchangeFile(start, size);
}

bool GoesToStreaming(const char* sizingPath, const char* repairFilePath) {
  uint64_t size;
  if (FileSizeOf(sizingPath, &size) && size >= kLargeFormSize) return true;
  return repairFilePath != nullptr && IsLargeRepairFile(repairFilePath);
}
