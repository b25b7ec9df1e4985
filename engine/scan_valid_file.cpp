// Valid-file scan: compares the valid file's block checksums with a test file and writes the
// repair file NAME.fix with every block that differs, and every block of which the broken
// copy lacks a byte that is not zero.
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

bool HoldsNonZeroByte(const uint8_t* bytes, uint64_t from, uint64_t to) {
  for (uint64_t i = from; i < to; ++i) {
    if (bytes[i] != 0) return true;
  }
  return false;
}

// Whether block b (from 1) of the valid file must travel. Its checksum may agree with the
// test file's entry and still not vouch for its bytes: past the vouched length the broken
// copy has only the zeros of its padded image (or no entry at all, read as 0), and a valid
// tail whose words cancel out (0xFF bytes, equal pairs) checksums to the same 0.
bool IsDamaged(const ValidScan& scan, uint32_t b, uint32_t validSize, uint64_t vouched) {
  const uint8_t* block = scan.image + uint64_t{b - 1} * kBlockSize;
  // Entries behind the test file's end read as 0 from the zero-filled buffer.
  const uint32_t expected = LoadU32LE(scan.testBuffer + kTestFileHeaderBytes + 4 * uint64_t{b - 1});
  if (BlockChecksum(block) != expected) return true;
  const uint64_t start = uint64_t{b - 1} * kBlockSize;
  const uint64_t end = start + kBlockSize;
  if (end <= vouched) return false;
  const uint64_t from = vouched > start ? vouched : start;
  const uint64_t to = end < validSize ? end : validSize;
  return HoldsNonZeroByte(scan.image, from, to);
}

// Collects every damaged block into the two areas, committing their pages as they fill.
// Returns 0 after reporting a failure.
int CollectDamagedBlocks(ValidScan& scan, WindowHandle owner, uint32_t validSize, uint64_t vouched,
                         uint32_t* damagedCount) {
  const uint32_t blocks = BlockCount(validSize);
  uint32_t count = 0;
  for (uint32_t b = 1; b <= blocks; ++b) {
    if (!IsDamaged(scan, b, validSize, vouched)) continue;
    const uint8_t* block = scan.image + uint64_t{b - 1} * kBlockSize;

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

  // The test file vouches for the broken copy's bytes up to its recorded size, and only as
  // far as its entries reach.
  const uint32_t brokenSize = LoadU32LE(scan.testBuffer);
  const uint64_t entryBytes = uint64_t{entries} * kBlockSize;
  const uint64_t vouched = brokenSize < entryBytes ? brokenSize : entryBytes;

  uint32_t damagedCount = 0;
  if (!CollectDamagedBlocks(scan, owner, validSize, vouched, &damagedCount)) return 0;
  // Identical only where the test file describes a copy of the valid file's length, block for
  // block. Otherwise a repair file without blocks still carries the valid size, and the
  // repair sets the broken file's length to it.
  if (damagedCount == 0 && brokenSize == validSize && entries == blocks) {
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
  if (!FlushFile(scan.outputFile)) return StopWithSystemError(owner, message::kWriteOutput);
  // The inputs go back first, so that the output is the last file released on this way out
  // as on every other; a late failure of its close is a failed write.
  CloseFile(scan.validFile);
  scan.validFile = nullptr;
  CloseFile(scan.testFile);
  scan.testFile = nullptr;
  const int closed = CloseFile(scan.outputFile);
  scan.outputFile = nullptr;
  if (!closed) return StopWithSystemError(owner, message::kWriteOutput);
  return 1;
}

}  // namespace

int ScanValidFile(WindowHandle owner, const char* validFilePath, const char* testFilePath, const char* outputFolder) {
  ValidScan scan;
  const int result = Scan(scan, owner, validFilePath, testFilePath, outputFolder);
  Release(scan);
  return result;
}
