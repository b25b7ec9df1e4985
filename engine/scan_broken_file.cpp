// Broken-file scan: the test file NAME.crc, the broken file's size and one checksum per block.
#include <cstdint>

#include "engine/block.h"
#include "engine/byte_order.h"
#include "formats/test_file.h"
#include "engine/messages.h"
#include "engine/operations.h"
#include "engine/steps.h"

namespace {

// What one call holds; null until obtained.
struct BrokenScan {
  FileHandle brokenFile = nullptr;
  FileHandle outputFile = nullptr;
  uint8_t* image = nullptr;
  uint8_t* testFile = nullptr;
};

void Release(BrokenScan& scan) {
  if (scan.outputFile != nullptr) CloseFile(scan.outputFile);
  if (scan.brokenFile != nullptr) CloseFile(scan.brokenFile);
  if (scan.testFile != nullptr) ReleaseMemory(scan.testFile);
  if (scan.image != nullptr) ReleaseMemory(scan.image);
}

int Scan(BrokenScan& scan, WindowHandle owner, const char* brokenFilePath, const char* outputFolder) {
  scan.brokenFile = OpenInputByPath(brokenFilePath);
  if (scan.brokenFile == nullptr) return StopWithSystemError(owner, message::kOpenBroken);

  uint32_t size;
  if (!GetFileSize32(scan.brokenFile, &size)) return StopWithSystemError(owner, message::kSizeBroken);
  const uint32_t blocks = BlockCount(size);

  // An empty file has no blocks: its test file is the size field alone, and neither an
  // image nor a buffer is made for it.
  uint8_t emptyTestFile[kTestFileHeaderBytes] = {};
  const uint8_t* testFile = emptyTestFile;
  const uint32_t testFileBytes = kTestFileHeaderBytes + 4 * blocks;
  if (size != 0) {
    scan.image = static_cast<uint8_t*>(CommitMemory(ImageBytes(size)));
    if (scan.image == nullptr) return StopWithSystemError(owner, message::kAllocateBroken);
    if (!ReadWhole(scan.brokenFile, scan.image, size)) return StopWithSystemError(owner, message::kReadBroken);
    scan.testFile = static_cast<uint8_t*>(CommitMemory(testFileBytes));
    if (scan.testFile == nullptr) return StopWithSystemError(owner, message::kAllocateTestBuffer);

    StoreU32LE(scan.testFile, size);
    for (uint32_t i = 0; i < blocks; ++i) {
      StoreU32LE(scan.testFile + kTestFileHeaderBytes + 4 * i, BlockChecksum(scan.image + uint64_t{i} * kBlockSize));
    }
    testFile = scan.testFile;
  }

  scan.outputFile = CreateOutputNamedAfter(outputFolder, brokenFilePath, ".crc");
  if (scan.outputFile == nullptr) return StopWithSystemError(owner, message::kCreateOutput);
  if (!WriteWhole(scan.outputFile, testFile, testFileBytes)) return StopWithSystemError(owner, message::kWriteOutput);
  // Done only once the test file is on its device; a late failure shows at the close.
  if (!FlushFile(scan.outputFile)) return StopWithSystemError(owner, message::kWriteOutput);
  const int closed = CloseFile(scan.outputFile);
  scan.outputFile = nullptr;
  if (!closed) return StopWithSystemError(owner, message::kWriteOutput);
  return 1;
}

}  // namespace

int ScanBrokenFile(WindowHandle owner, const char* brokenFilePath, const char* outputFolder) {
  BrokenScan scan;
  const int result = Scan(scan, owner, brokenFilePath, outputFolder);
  Release(scan);
  return result;
}
