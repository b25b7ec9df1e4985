// The look at the files before Start picks an engine. Sizes come from the file's attributes,
// which opens nothing: a file that is locked, read-only or missing reaches the dialog's own
// operation exactly as before. Only mode 3's repair file and mode 2's test file have their
// first bytes read, for their kind and the large form, which the dialog's own operations do
// not take.
#include "ui/large_file_probe.h"

#include <windows.h>


#include "core/repair_file.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace {

// Folders and devices are no files to size; the operation refuses them in its own words.
bool FileSizeOf(const char* path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  const SystemPath wide(path);
  if (!wide.ok() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return false;
  *size = uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  return true;
}

// The file's first count bytes, through the same service the operations open their inputs
// with; *size is the file's size. False for a file shorter than that.
bool ReadStart(const char* path, uint8_t* start, uint32_t count, uint64_t* size) {
  if (!FileSizeOf(path, size) || *size < count) return false;
  FileHandle file = OpenInputFile(path);
  if (file == nullptr) return false;
  const bool read = ReadWhole(file, start, count) != 0;
  CloseFile(file);
  return read;
}

// Reads only the header. A large form that is damaged further on still goes to the streaming
// repair, which names it.
bool IsLargeRepairFile(const char* path) {
  uint8_t header[kLongestRepairFileHeader];
  uint64_t size;
  if (!ReadStart(path, header, sizeof header, &size)) return false;
  RepairFileLayout layout;
  ReadRepairFileLayout(header, size, &layout);
  return layout.form == RepairFileForm::Large && layout.validSize >= kLargeFormSize;
}

}  // namespace

ExchangeFileKind ExchangeFileKindAt(const char* path) {
  uint8_t start[kTagBytes];
  uint64_t size;
  if (!ReadStart(path, start, sizeof start, &size)) return ExchangeFileKind::Plain;
  return ReadExchangeFileKind(start, size);
}

bool GoesToStreaming(const char* sizingPath, const char* repairFilePath) {
  uint64_t size;
  if (FileSizeOf(sizingPath, &size) && size >= kLargeFormSize) return true;
  return repairFilePath != nullptr && IsLargeRepairFile(repairFilePath);
}
