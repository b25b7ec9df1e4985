// Broken-file scan: the test file NAME.crc, the broken file's size and one checksum per block.
#include <cstdint>
#include <cstring>

#include "core/block.h"
#include "core/byte_order.h"
#include "core/test_file.h"
#include "platform/platform.h"
#include "support/files_by_path.h"
#include "whole_file/operations.h"
#include "whole_file/stops.h"

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

Outcome Scan(BrokenScan& scan, const Reporter& reporter, const char* brokenFilePath, const char* outputFolder) {
  scan.brokenFile = OpenInputByPath(brokenFilePath);
  if (scan.brokenFile == nullptr) return StoppedAt(reporter, Step::OpenBroken);

  uint32_t size;
  if (!GetFileSize32(scan.brokenFile, &size)) return StoppedAt(reporter, Step::SizeBroken);
  const uint32_t blocks = BlockCount(size);

  // Below 4 GiB the small form: the size field, then the checksums. An empty file has no
  // blocks: its test file is the size field alone, and neither an image nor a buffer is
  // made for it.
  uint8_t header[kLongestTestFileHeader];
  const uint32_t headerBytes = StoreTestFileHeader(header, size);
  const uint8_t* testFile = header;
  const uint32_t testFileBytes = headerBytes + 4 * blocks;
  if (size != 0) {
    scan.image = static_cast<uint8_t*>(CommitMemory(ImageBytes(size)));
    if (scan.image == nullptr) return StoppedAt(reporter, Step::AllocateBroken);
    if (!ReadWhole(scan.brokenFile, scan.image, size)) return StoppedAt(reporter, Step::ReadBroken);
    scan.testFile = static_cast<uint8_t*>(CommitMemory(testFileBytes));
    if (scan.testFile == nullptr) return StoppedAt(reporter, Step::AllocateTestFileBuffer);

    std::memcpy(scan.testFile, header, headerBytes);
    for (uint32_t i = 0; i < blocks; ++i) {
      StoreU32LE(scan.testFile + headerBytes + 4 * i, BlockChecksum(scan.image + uint64_t{i} * kBlockSize));
    }
    testFile = scan.testFile;
  }

  scan.outputFile = CreateOutputNamedAfter(outputFolder, brokenFilePath, ".crc");
  if (scan.outputFile == nullptr) return StoppedAt(reporter, Step::CreateOutput);
  if (!WriteWhole(scan.outputFile, testFile, testFileBytes)) return StoppedAt(reporter, Step::WriteOutput);
  // Done only once the test file is on its device; a late failure shows at the close.
  if (!FlushFile(scan.outputFile)) return StoppedAt(reporter, Step::WriteOutput);
  const int closed = CloseFile(scan.outputFile);
  scan.outputFile = nullptr;
  if (!closed) return StoppedAt(reporter, Step::WriteOutput);
  Outcome done = DoneOutcome();
  done.outputBytes = testFileBytes;
  return done;
}

}  // namespace

Outcome ScanBrokenFile(const Reporter& reporter, const char* brokenFilePath, const char* outputFolder) {
  BrokenScan scan;
  Outcome result = Scan(scan, reporter, brokenFilePath, outputFolder);
  Release(scan);
  return result;
}
