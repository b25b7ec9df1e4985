// The check of the broken file against its test file before a repair.
#include "stream/broken_file_check.h"

#include <cstdio>
#include <string>

#include "engine/block.h"
#include "engine/byte_order.h"
#include "engine/messages.h"
#include "engine/steps.h"
#include "formats/test_file.h"
#include "stream/check_texts.h"

namespace {

StreamResult Refuse(const std::string& why) {
  StreamResult result;
  result.outcome = StreamOutcome::CheckRefused;
  result.detail = why;
  return result;
}

template <typename... Arguments>
StreamResult Refuse(const char* format, Arguments... arguments) {
  char text[512];
  std::snprintf(text, sizeof text, format, arguments...);
  return Refuse(std::string(text));
}

// A file of the check could not be read: the step's failure, but the outcome of a refused
// check, since nothing has been written.
StreamResult CheckStopped(const char* message) {
  StreamResult result = StoppedAt(message);
  result.outcome = StreamOutcome::CheckRefused;
  return result;
}

StreamResult Compare(FileHandle brokenFile, uint64_t size, FileHandle testFile, uint8_t* slice, uint8_t* entries,
                     Progress& progress) {
  uint64_t testLength;
  if (!GetFileSize64(testFile, &testLength)) return CheckStopped(message::kSizeTest);
  if (testLength < kTestFileHeaderBytes) return Refuse(std::string(check_text::kTestFileTooShort));
  uint8_t start[kLargeTestFileHeaderBytes] = {};
  const uint32_t startBytes = testLength < sizeof start ? static_cast<uint32_t>(testLength) : sizeof start;
  if (!ReadAt(testFile, 0, start, startBytes)) return CheckStopped(message::kReadTest);

  // Either form, read strictly: one entry per block of the size recorded.
  const bool large = LoadU32LE(start) == kLargeTestFileMarker && testLength >= kLargeTestFileHeaderBytes;
  const uint64_t recorded = large ? uint64_t{LoadU32LE(start + 4)} | uint64_t{LoadU32LE(start + 8)} << 32 : LoadU32LE(start);
  const uint32_t header = large ? kLargeTestFileHeaderBytes : kTestFileHeaderBytes;
  if ((large && recorded < kLargeFormSize) || testLength != header + 4 * BlockCount64(recorded)) {
    return Refuse(check_text::kTestFileMalformed, static_cast<unsigned long long>(testLength),
                  static_cast<unsigned long long>(recorded));
  }
  if (size != recorded) {
    return Refuse(check_text::kSizeDiffers, static_cast<unsigned long long>(size), static_cast<unsigned long long>(recorded));
  }

  for (uint64_t done = 0; done < size;) {
    if (progress.StopRequested()) return CancelledResult(false);
    const uint32_t count = size - done < kStreamBufferBytes ? static_cast<uint32_t>(size - done) : kStreamBufferBytes;
    const uint32_t blocks = static_cast<uint32_t>(BlockCount64(count));
    // The last block is compared as the scan saw it: padded with zero bytes.
    if (!ReadPadded(brokenFile, done, slice, count, blocks * kBlockSize)) return CheckStopped(message::kReadBroken);
    const uint64_t first = done / kBlockSize;  // 0-based
    if (!ReadAt(testFile, header + 4 * first, entries, 4 * blocks)) return CheckStopped(message::kReadTest);
    for (uint32_t i = 0; i < blocks; ++i) {
      if (BlockChecksum(slice + uint64_t{i} * kBlockSize) == LoadU32LE(entries + 4 * i)) continue;
      const uint64_t from = (first + i) * kBlockSize;
      const uint64_t to = from + kBlockSize < size ? from + kBlockSize : size;
      return Refuse(check_text::kBlockDiffers, static_cast<unsigned>(first + i + 1), static_cast<unsigned long long>(from),
                    static_cast<unsigned long long>(to - 1));
    }
    done += count;
    progress.Advance(count);
  }
  StreamResult result;
  result.outcome = StreamOutcome::Done;
  return result;
}

}  // namespace

StreamResult CheckBrokenFile(FileHandle brokenFile, uint64_t size, const char* checkFilePath, uint8_t* slice,
                             uint8_t* entries, Progress& progress) {
  FileHandle testFile = OpenInputByPath(checkFilePath);
  if (testFile == nullptr) return CheckStopped(message::kOpenTest);
  StreamResult result = Compare(brokenFile, size, testFile, slice, entries, progress);
  CloseFile(testFile);
  return result;
}
