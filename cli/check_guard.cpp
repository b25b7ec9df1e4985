// The --check guard. The test file is read whole (about a 1024th of the broken file); the
// broken file is read in slices, since it is only compared and a whole image of it would
// double what the repair after the check already holds.
#include "cli/check_guard.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "cli/console.h"
#include "cli/output.h"
#include "cli/texts.h"
#include "engine/block.h"
#include "engine/byte_order.h"
#include "formats/test_file.h"
#include "engine/messages.h"
#include "engine/steps.h"
#include "platform/platform.h"
#include "support/report_system_error.h"

namespace {

constexpr uint32_t kSliceBytes = 16u << 20;  // a whole number of blocks

// What one check holds; null until obtained.
struct Check {
  FileHandle testFile = nullptr;
  FileHandle brokenFile = nullptr;
  uint8_t* testBuffer = nullptr;
  uint8_t* slice = nullptr;
};

void Release(Check& check) {
  if (check.testFile != nullptr) CloseFile(check.testFile);
  if (check.brokenFile != nullptr) CloseFile(check.brokenFile);
  if (check.testBuffer != nullptr) ReleaseMemory(check.testBuffer);
  if (check.slice != nullptr) ReleaseMemory(check.slice);
}

// Says why the check refuses the repair; reason ends with its line break.
int Refuse(const std::string& reason) {
  WriteText(CliErr(), (cli_text::kCheckFailed + reason + cli_text::kNothingWritten).c_str());
  return 0;
}

// A file of the check could not be read: shown as the engine shows its failures.
int Stop(const char* message) {
  ReportSystemError(nullptr, message);
  WriteText(CliErr(), cli_text::kNothingWritten);
  return 0;
}

// Compares the broken file, size bytes from its start, with the test file's entries.
int CompareBlocks(Check& check, uint32_t size) {
  const uint32_t blocks = BlockCount(size);
  const uint8_t* entries = check.testBuffer + kTestFileHeaderBytes;
  uint32_t block = 0;  // blocks compared so far
  while (block < blocks) {
    const uint64_t done = uint64_t{block} * kBlockSize;
    const uint32_t count = size - done < kSliceBytes ? static_cast<uint32_t>(size - done) : kSliceBytes;
    if (!ReadWhole(check.brokenFile, check.slice, count)) return Stop(message::kReadBroken);
    // The last block is compared as the scan saw it: padded with zero bytes.
    const uint32_t sliceBlocks = BlockCount(count);
    std::memset(check.slice + count, 0, uint64_t{sliceBlocks} * kBlockSize - count);
    for (uint32_t i = 0; i < sliceBlocks; ++i, ++block) {
      if (BlockChecksum(check.slice + uint64_t{i} * kBlockSize) != LoadU32LE(entries + 4 * uint64_t{block})) {
        const uint64_t first = uint64_t{block} * kBlockSize;
        const uint64_t end = first + kBlockSize < size ? first + kBlockSize : size;
        return Refuse(Format(cli_text::kCheckBlockDiffers, block + 1, static_cast<unsigned long long>(first),
                             static_cast<unsigned long long>(end - 1)));
      }
    }
  }
  return 1;
}

int Run(Check& check, const char* brokenFilePath, const char* testFilePath) {
  check.testFile = OpenInputByPath(testFilePath);
  if (check.testFile == nullptr) return Stop(message::kOpenTest);
  uint32_t testSize;
  if (!GetFileSize32(check.testFile, &testSize)) return Stop(message::kSizeTest);
  if (testSize < kTestFileHeaderBytes) return Refuse(cli_text::kCheckTestFileTooShort);
  check.testBuffer = static_cast<uint8_t*>(CommitMemory(testSize));
  if (check.testBuffer == nullptr) return Stop(message::kAllocateTest);
  if (!ReadWhole(check.testFile, check.testBuffer, testSize)) return Stop(message::kReadTest);
  const uint32_t recordedSize = LoadU32LE(check.testBuffer);
  // A test file has exactly one entry per block of the size it records.
  if (uint64_t{testSize} != kTestFileHeaderBytes + 4 * uint64_t{BlockCount(recordedSize)}) {
    return Refuse(Format(cli_text::kCheckTestFileMalformed, testSize, recordedSize));
  }

  check.brokenFile = OpenInputByPath(brokenFilePath);
  if (check.brokenFile == nullptr) return Stop(message::kOpenBroken);
  uint32_t brokenSize;
  if (!GetFileSize32(check.brokenFile, &brokenSize)) return Stop(message::kSizeBroken);
  if (brokenSize != recordedSize) return Refuse(Format(cli_text::kCheckSizeDiffers, brokenSize, recordedSize));
  if (brokenSize == 0) return 1;

  check.slice = static_cast<uint8_t*>(CommitMemory(ImageBytes(brokenSize < kSliceBytes ? brokenSize : kSliceBytes)));
  if (check.slice == nullptr) return Stop(message::kAllocateBroken);
  return CompareBlocks(check, brokenSize);
}

}  // namespace

int BrokenFileMatchesTestFile(const char* brokenFilePath, const char* testFilePath) {
  Check check;
  const int result = Run(check, brokenFilePath, testFilePath);
  Release(check);
  return result;
}
