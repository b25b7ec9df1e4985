// Fuzzing the broken-file repair with arbitrary repair files and broken files.
//
// Input: a 32-bit little-endian length L, then L bytes of repair file (fewer when the input
// ends first), then the broken file's bytes. Both become real files and RepairBrokenFile is
// applied. After every call: nothing is held, the repair file is unchanged, and the broken
// file is what an independent reading of the repair file says: rewritten exactly when the
// repair file may be applied to it, untouched when the call stops before its final write.
// Bytes behind the last block are the valid file's fingerprint, read by the format's own
// reader: a part that does not hold refuses the repair file; one that holds has the result
// checked against it, which ends done or differing, with the same bytes either way. A part of
// version 2 records the broken file the repair file was made for: a repair that finds another
// file there ends OtherFile, the broken file untouched; only such a part may refuse so.
//
// A hostile valid size can ask for up to 4 GiB of broken-file buffer. The platform maps it
// lazily, so only touched pages count, but a repair that is allowed to succeed would write
// all of it; file writes are therefore capped (RLIMIT_FSIZE), and a repair whose valid size
// exceeds the cap must fail at its final write, which drives that failure path too.

#include <algorithm>
#include <cstdint>
#include <map>

#include "core/fingerprint_part.h"
#include "whole_file/operations.h"
#include "fuzz/fuzz_support.h"

namespace {

// Inputs, and so the files made from them, stay well below the cap.
constexpr size_t kLargestInput = 128 * 1024;
constexpr uint64_t kBlock = 4096;

// The repair file as its layout describes it, read without the engine's code: whether it
// may be applied to a broken file of brokenSize bytes, and which entry each block takes.
struct RepairPlan {
  bool applies = false;
  bool recorded = false;  // the part records the broken file
  uint64_t validSize = 0;
  uint64_t damagedCount = 0;
  std::map<uint64_t, uint64_t> lastEntryOfBlock;  // 0-based block -> list entry
};

RepairPlan ReadPlan(const Bytes& repair, uint64_t brokenSize) {
  RepairPlan plan;
  if (repair.size() < 8) return plan;
  plan.validSize = Le32At(repair, 0);
  plan.damagedCount = Le32At(repair, 4);
  const uint64_t blocks = (plan.validSize + kBlock - 1) / kBlock;
  const uint64_t bufferBytes = blocks * kBlock;
  // The buffer's size is a 32-bit number: from 0xFFFFF001 up it cannot be had.
  if (plan.validSize == 0 || bufferBytes > 0xFFFFFFFFu) return plan;
  const uint64_t blocksEnd = 8 + (4 + kBlock) * plan.damagedCount;
  if (blocksEnd > repair.size()) return plan;
  for (uint64_t j = 0; j < plan.damagedCount; ++j) {
    const uint64_t number = Le32At(repair, 8 + 4 * j);
    if (number == 0 || number > blocks) return plan;
    plan.lastEntryOfBlock[number - 1] = j;  // a later entry for the same block wins
  }
  if (repair.size() > blocksEnd) {
    FingerprintPart part;
    Bytes start(repair.begin() + static_cast<std::ptrdiff_t>(blocksEnd), repair.end());
    const uint64_t length = start.size();
    start.resize(std::max<size_t>(start.size(), kLongestFingerprintHeader), 0);
    if (ReadFingerprintHeader(start.data(), length, plan.validSize, plan.damagedCount, &part) != FingerprintVerdict::Read ||
        !FingerprintPartHolds(start.data(), part)) {
      return plan;
    }
    plan.recorded = part.hasOrigin;
  }
  plan.applies = brokenSize <= bufferBytes;
  return plan;
}

// The first length bytes of the broken file as the plan rewrites it: the buffer (broken
// bytes, zeros behind them, repair blocks over both) up to the valid size, and behind it
// whatever of the broken file a failed write left there.
Bytes RepairedPrefix(const RepairPlan& plan, const Bytes& repair, const Bytes& broken, uint64_t length) {
  Bytes bytes(length, 0);
  std::copy_n(broken.begin(), std::min<uint64_t>(broken.size(), length), bytes.begin());
  const uint64_t blocksStart = 8 + 4 * plan.damagedCount;
  for (const auto& [block, entry] : plan.lastEntryOfBlock) {
    const uint64_t start = block * kBlock;
    const uint64_t end = std::min({start + kBlock, plan.validSize, length});
    if (end <= start) continue;
    const auto from = repair.begin() + static_cast<std::ptrdiff_t>(blocksStart + kBlock * entry);
    std::copy(from, from + static_cast<std::ptrdiff_t>(end - start), bytes.begin() + static_cast<std::ptrdiff_t>(start));
  }
  return bytes;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Here rather than in an initialiser: libFuzzer installs its own SIGXFSZ handler after those.
  static const bool capped = (CapFileWrites(), true);
  (void)capped;
  if (size > kLargestInput) return -1;

  const size_t headerLength = std::min<size_t>(size, 4);
  const uint32_t declaredLength = Le32At(Bytes(data, data + headerLength), 0);
  const uint8_t* body = data + headerLength;
  const size_t repairLength = std::min<size_t>(declaredLength, size - headerLength);
  const Bytes repair(body, body + repairLength);
  const Bytes broken(body + repairLength, data + size);

  static const std::string brokenPath = ScratchPath("broken.bin");
  static const std::string repairPath = ScratchPath("repair.fix");
  WriteFileBytes(brokenPath, broken.data(), broken.size());
  WriteFileBytes(repairPath, repair.data(), repair.size());

  StartRecording();
  const Outcome result = RepairBrokenFile(RecordingReporter(), brokenPath.c_str(), repairPath.c_str());

  RequireNothingHeld();
  Require(ReadFileBytes(repairPath) == repair, "the repair file changed");
  const Bytes after = ReadFileBytes(brokenPath);
  const RepairPlan plan = ReadPlan(repair, broken.size());
  // A failed write can leave the file anywhere between its old length and the valid size.
  const uint64_t repairedLength = std::max<uint64_t>(broken.size(), plan.validSize);

  if (result.ending == Ending::Done || result.ending == Ending::Differs) {
    Require(Reported().size() == (result.ending == Ending::Done ? 0u : 1u), "a done repair reported a stop");
    Require(plan.applies, "a repair file that does not fit was applied");
    Require(after.size() == plan.validSize, "the repaired file does not have the valid size");
    Require(after == RepairedPrefix(plan, repair, broken, plan.validSize), "the repaired file has the wrong contents");
    return 0;
  }

  if (result.ending == Ending::OtherFile) {
    Require(plan.applies && plan.recorded, "a repair file without a record of the broken file refused it as another");
    Require(Reported().size() == 1, "a refused repair did not report exactly once");
    Require(after == broken, "a repair refused as made for another file changed the broken file");
    return 0;
  }
  Require(result.ending == Ending::Stopped, "a repair neither done nor stopped");
  Require(Reported().size() == 1, "a repair stopped without reporting exactly once");
  if (result.step != Step::WriteRepaired) {
    Require(!plan.applies, "a repair file that fits was refused");
    Require(after == broken, "the broken file changed although the repair stopped before writing");
    return 0;
  }

  // Only the final write failed: the file may be rewritten from its start up to some point,
  // and hold its own bytes behind that point. Here the write can only fail at the cap.
  Require(plan.applies, "a repair file that does not fit reached the write");
  Require(plan.validSize > kFileSizeLimit, "the write failed below the file size cap");
  Require(after.size() >= broken.size() && after.size() <= repairedLength, "a failed write left a wrong length");
  const Bytes expected = RepairedPrefix(plan, repair, broken, after.size());
  const size_t written = static_cast<size_t>(std::mismatch(after.begin(), after.end(), expected.begin()).first - after.begin());
  Require(written == after.size() ||
              (after.size() <= broken.size() && std::equal(after.begin() + static_cast<std::ptrdiff_t>(written), after.end(),
                                                           broken.begin() + static_cast<std::ptrdiff_t>(written))),
          "a failed write left foreign bytes");
  return 0;
}
