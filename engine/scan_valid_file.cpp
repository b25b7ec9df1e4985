// Valid-file scan: compares the valid file's block checksums with a test file and writes the
// repair file NAME.fix with every block that differs.
#include <cstdint>
#include <cstring>

#include "engine/block.h"
#include "engine/byte_order.h"
#include "formats/repair_file.h"
#include "formats/test_file.h"
#include "engine/messages.h"
#include "engine/operations.h"
#include "engine/steps.h"

namespace {

// What one call holds; null until obtained.
struct ValidScan {
  FileHandle validFile = nullptr;
  FileHandle testFile = nullptr;
  FileHandle outputFile = nullptr;
  uint8_t* image = nullptr;
  uint8_t* testBuffer = nullptr;
  uint8_t* listArea = nullptr;
  uint8_t* repairArea = nullptr;
};

void Release(ValidScan& scan) {
  if (scan.validFile != nullptr) CloseFile(scan.validFile);
  if (scan.testFile != nullptr) CloseFile(scan.testFile);
  if (scan.outputFile != nullptr) CloseFile(scan.outputFile);
  if (scan.image != nullptr) ReleaseMemory(scan.image);
  if (scan.testBuffer != nullptr) ReleaseMemory(scan.testBuffer);
  if (scan.repairArea != nullptr) ReleaseMemory(scan.repairArea);
  if (scan.listArea != nullptr) ReleaseMemory(scan.listArea);
}

// Collects every block whose checksum differs from the test file's entry into the two
// areas, committing their pages as they fill. Returns 0 after reporting a failure.
int CollectDamagedBlocks(ValidScan& scan, WindowHandle owner, uint32_t blocks, uint32_t* damagedCount) {
  uint32_t count = 0;
  for (uint32_t b = 1; b <= blocks; ++b) {
    const uint8_t* block = scan.image + uint64_t{b - 1} * kBlockSize;
    // Entries behind the test file's end read as 0 from the zero-filled buffer.
    const uint32_t expected = LoadU32LE(scan.testBuffer + kTestFileHeaderBytes + 4 * uint64_t{b - 1});
    if (BlockChecksum(block) == expected) continue;

    if (count == kMaxDamagedBlocks) {
      SetLastSystemError(SystemErrorCode(SystemErrorKind::NotEnoughMemory));
      return StopWithSystemError(owner, message::kCommitRepairBlocks);
    }
    uint8_t* repairBlock = scan.repairArea + uint64_t{count} * kBlockSize;
    if (!CommitPage(repairBlock)) return StopWithSystemError(owner, message::kCommitRepairBlocks);
    std::memcpy(repairBlock, block, kBlockSize);

    uint8_t* listEntry = scan.listArea + 4 * count;
    if ((4 * count) % kPageSize == 0 && !CommitPage(listEntry)) return StopWithSystemError(owner, message::kCommitList);
    StoreU32LE(listEntry, b);
    ++count;
  }
  *damagedCount = count;
  return 1;
}

int Scan(ValidScan& scan, WindowHandle owner, const char* validFilePath, const char* testFilePath,
         const char* outputFolder) {
  scan.validFile = OpenInputByPath(validFilePath);
  if (scan.validFile == nullptr) return StopWithSystemError(owner, message::kOpenValid);
  scan.testFile = OpenInputByPath(testFilePath);
  if (scan.testFile == nullptr) return StopWithSystemError(owner, message::kOpenTest);

  uint32_t validSize;
  if (!GetFileSize32(scan.validFile, &validSize)) return StopWithSystemError(owner, message::kSizeValid);
  const uint32_t blocks = BlockCount(validSize);
  // An empty valid file asks for 0 bytes here, which the platform refuses.
  scan.image = static_cast<uint8_t*>(CommitMemory(ImageBytes(validSize)));
  if (scan.image == nullptr) return StopWithSystemError(owner, message::kAllocateValid);

  uint32_t testSize;
  if (!GetFileSize32(scan.testFile, &testSize)) return StopWithSystemError(owner, message::kSizeTest);
  // Wraps for test files of 0 to 3 bytes, which then describe more blocks than any file has.
  const uint32_t entries = (testSize - kTestFileHeaderBytes) / 4;
  if (entries > blocks) {
    return StopWithMessage(owner, message::kBrokenLargerThanValid, message::kUnforeseen, kBoxIconError);
  }

  // Sized by the valid file, so it holds the whole test file (at most 4 * N + 7 bytes now)
  // and has an entry for every block.
  scan.testBuffer = static_cast<uint8_t*>(CommitMemory(blocks * 16 + 4));
  if (scan.testBuffer == nullptr) return StopWithSystemError(owner, message::kAllocateTest);
  if (!ReadWhole(scan.validFile, scan.image, validSize)) return StopWithSystemError(owner, message::kReadValid);
  if (!ReadWhole(scan.testFile, scan.testBuffer, testSize)) return StopWithSystemError(owner, message::kReadTest);

  // Reserved whole and committed page by page, so each area grows with the damage found and
  // still goes to the file in one write.
  scan.listArea = static_cast<uint8_t*>(ReserveMemory(kListAreaBytes));
  if (scan.listArea == nullptr) return StopWithSystemError(owner, message::kReserveList);
  scan.repairArea = static_cast<uint8_t*>(ReserveMemory(kRepairAreaBytes));
  if (scan.repairArea == nullptr) return StopWithSystemError(owner, message::kReserveRepairBlocks);

  uint32_t damagedCount = 0;
  if (!CollectDamagedBlocks(scan, owner, blocks, &damagedCount)) return 0;
  if (damagedCount == 0) {
    return StopWithMessage(owner, message::kIdentical, message::kAttention, kBoxIconInformation);
  }

  scan.outputFile = CreateOutputNamedAfter(outputFolder, validFilePath, ".fix");
  if (scan.outputFile == nullptr) return StopWithSystemError(owner, message::kCreateOutput);

  uint8_t header[kRepairFileHeaderBytes];
  StoreU32LE(header, validSize);
  StoreU32LE(header + 4, damagedCount);
  if (!WriteWhole(scan.outputFile, header, 4) || !WriteWhole(scan.outputFile, header + 4, 4) ||
      !WriteWhole(scan.outputFile, scan.listArea, 4 * damagedCount) ||
      !WriteWhole(scan.outputFile, scan.repairArea, kBlockSize * damagedCount)) {
    return StopWithSystemError(owner, message::kWriteOutput);
  }
  return 1;
}

}  // namespace

int ScanValidFile(WindowHandle owner, const char* validFilePath, const char* testFilePath, const char* outputFolder) {
  ValidScan scan;
  const int result = Scan(scan, owner, validFilePath, testFilePath, outputFolder);
  Release(scan);
  return result;
}
