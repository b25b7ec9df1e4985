// Telling an exchange file by its structure, and naming it by its hash.
#include "stream/exchange_file_identity.h"

#include <algorithm>

#include "core/byte_order.h"
#include "core/file_kinds.h"
#include "core/fingerprint_part.h"
#include "core/repair_file.h"
#include "core/test_file.h"
#include "stream/steps.h"

namespace {

// Hashes length bytes from offset.
SystemError HashRange(const File& file, uint64_t offset, uint64_t length, uint8_t* buffer, Hash128Stream* hash) {
  for (uint64_t at = 0; at < length;) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(length - at, kStreamBufferBytes));
    if (const SystemError failed = ReadAt(file, offset + at, buffer, count)) return failed;
    hash->Add(buffer, count);
    at += count;
  }
  return SystemError{};
}

// The header of the fingerprint part behind a repair file's blocks, when start (the file's first
// bytes) lays out a repair file and a part header that holds stands behind its blocks.
SystemError ReadPartHeader(const File& file, uint64_t length, const uint8_t* start, RepairFileLayout* layout,
                           FingerprintPart* part, bool* found) {
  *found = false;
  if (ReadRepairFileLayout(start, length, layout) != RepairFileVerdict::Read || length <= layout->BlocksEnd()) {
    return SystemError{};
  }
  const uint64_t partLength = length - layout->BlocksEnd();
  uint8_t head[kLongestFingerprintHeader] = {};
  if (const SystemError failed =
          ReadAt(file, layout->BlocksEnd(), head, static_cast<uint32_t>(std::min<uint64_t>(partLength, sizeof head)))) {
    return failed;
  }
  *found = ReadFingerprintHeader(head, partLength, layout->validSize, layout->damagedCount, part) == FingerprintVerdict::Read;
  return SystemError{};
}

SystemError ReadStart(const File& file, uint64_t length, uint8_t* start, uint32_t room) {
  const uint32_t startBytes = static_cast<uint32_t>(std::min<uint64_t>(length, room));
  return startBytes > 0 ? ReadAt(file, 0, start, startBytes) : SystemError{};
}

}  // namespace

SystemError FindExchangeFileRole(const File& file, uint64_t length, uint8_t* buffer, ExchangeFileRole* role) {
  *role = ExchangeFileRole::None;
  uint8_t start[kLongestRepairFileHeader] = {};
  if (const SystemError failed = ReadStart(file, length, start, sizeof start)) return failed;
  switch (ReadExchangeFileKind(start, length)) {
    case ExchangeFileKind::CompactTestFile:
    case ExchangeFileKind::FollowUpTestFile:
    case ExchangeFileKind::FolderTestFile:
    case ExchangeFileKind::FolderFollowUp:
    case ExchangeFileKind::CompactFolderTestFile:
      *role = ExchangeFileRole::TestFile;
      return SystemError{};
    case ExchangeFileKind::AskingRepairFile:
    case ExchangeFileKind::FolderRepairFile:
    case ExchangeFileKind::FolderAskingFile:
      *role = ExchangeFileRole::RepairFile;
      return SystemError{};
    case ExchangeFileKind::Plain:
      break;
  }
  // A repair file: its header lays out blocks, and behind them stands a fingerprint part whose
  // magic, header and check all hold, which no file of the user's happens to have.
  RepairFileLayout layout;
  FingerprintPart part;
  bool found = false;
  if (const SystemError failed = ReadPartHeader(file, length, start, &layout, &part, &found)) return failed;
  if (!found) return SystemError{};
  Hash128Stream checked;
  const uint64_t checkedBytes = length - layout.BlocksEnd() - kFingerprintCheckBytes;
  if (const SystemError failed = HashRange(file, layout.BlocksEnd(), checkedBytes, buffer, &checked)) return failed;
  uint8_t check[kFingerprintCheckBytes];
  if (const SystemError failed = ReadAt(file, layout.BlocksEnd() + checkedBytes, check, sizeof check)) {
    return failed;
  }
  if (checked.Digest() == LoadHash128(check)) *role = ExchangeFileRole::RepairFile;
  return SystemError{};
}

SystemError ReadRepairAnswers(const File& file, uint64_t length, bool* found, RepairAnswers* answers) {
  *found = false;
  uint8_t start[kLongestRepairFileHeader] = {};
  if (const SystemError failed = ReadStart(file, length, start, sizeof start)) return failed;
  if (ReadExchangeFileKind(start, length) != ExchangeFileKind::Plain) return SystemError{};
  RepairFileLayout layout;
  FingerprintPart part;
  bool headerFound = false;
  if (const SystemError failed = ReadPartHeader(file, length, start, &layout, &part, &headerFound)) return failed;
  *found = headerFound && part.hasAnswers;
  if (*found) *answers = part.answers;
  return SystemError{};
}

bool LooksLikePlainTestFile(const uint8_t* start, uint64_t length) {
  if (length < kTestFileHeaderBytes) return false;
  TestFileLayout layout;
  return ReadTestFileLayout(start, length, true, &layout) == TestFileVerdict::Read && TestFileIsExact(layout);
}

SystemError HashWholeFile(const File& file, uint64_t length, uint8_t* buffer, Hash128* hash) {
  Hash128Stream whole;
  if (const SystemError failed = HashRange(file, 0, length, buffer, &whole)) return failed;
  *hash = whole.Digest();
  return SystemError{};
}
