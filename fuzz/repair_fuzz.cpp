// Fuzzing the broken-file repair with arbitrary repair files and broken files.
//
// Input: a 32-bit little-endian length L, then L bytes of repair file (fewer when the input
// ends first), then the broken file's bytes. Both become real files and the repair is applied.
// After every call: nothing is held, the repair file is unchanged, and the broken file is what
// an independent reading of the repair file says: rewritten exactly when the repair file may be
// applied to it, untouched when the call stops before its first write. Bytes behind the last
// block are the valid file's fingerprint, read by the format's own reader: a part that does not
// hold refuses the repair file; one that holds has the result checked against it, which ends
// done or differing, with the same bytes either way. A part of version 2 records the broken
// file the repair file was made for: a repair that finds another file there ends OtherFile, the
// broken file untouched; only such a part may refuse so. A broken file longer than the valid
// file is cut to the valid size.
//
// An exchange file where the broken file or the repair file goes is refused as what it is,
// before anything is written: one tagged as a test file or a repair file, a repair file whose
// fingerprint part holds, or, given as the repair file, a plain test file.
//
// A request for a larger test file (tagged VNASKING) is refused as damaged unless every field
// and its check hold; one that holds was made for a file of at least 270 blocks, larger than any
// broken file here, so it is refused as made for another file. Either way nothing is written.
//
// A hostile valid size can ask for a file of up to 16 TiB. File writes are therefore capped
// (RLIMIT_FSIZE), and a repair whose valid size or blocks lie past the cap must fail at a
// write, which drives that failure path too: every block then holds either what it held or
// what the repair puts there.

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "core/fingerprint.h"
#include "core/fingerprint_part.h"
#include "stream/operations.h"
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
  bool fingerprinted = false;  // a fingerprint part that holds stands behind the blocks
  uint64_t validSize = 0;
  uint64_t damagedCount = 0;
  uint64_t headerBytes = 8;
  std::map<uint64_t, uint64_t> lastEntryOfBlock;  // 0-based block -> list entry
};

RepairPlan ReadPlan(const Bytes& repair, uint64_t brokenSize) {
  RepairPlan plan;
  if (repair.size() < 8) return plan;
  // The large form: a first word of 0, the count, then the 64-bit size, which must need it.
  const bool large = Le32At(repair, 0) == 0;
  if (large && repair.size() < 16) return plan;
  plan.validSize = large ? Le32At(repair, 8) | uint64_t{Le32At(repair, 12)} << 32 : Le32At(repair, 0);
  plan.damagedCount = Le32At(repair, 4);
  if (large && (plan.validSize < (uint64_t{1} << 32) || plan.validSize > uint64_t{0xFFFFFFFF} * kBlock)) return plan;
  plan.headerBytes = large ? 16 : 8;
  const uint64_t blocks = (plan.validSize + kBlock - 1) / kBlock;
  const uint64_t blocksEnd = plan.headerBytes + (4 + kBlock) * plan.damagedCount;
  if (blocksEnd > repair.size()) return plan;
  for (uint64_t j = 0; j < plan.damagedCount; ++j) {
    const uint64_t number = Le32At(repair, plan.headerBytes + 4 * j);
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
    plan.fingerprinted = true;
  }
  (void)brokenSize;  // any length: a longer file is cut
  plan.applies = plan.validSize > 0;
  return plan;
}

uint64_t Le64At(const Bytes& bytes, size_t at) { return Le32At(bytes, at) | uint64_t{Le32At(bytes, at + 4)} << 32; }

// The tag of a tagged exchange file ("VNSKETCH" ...), or empty.
std::string TagOf(const Bytes& file) {
  if (file.size() < 12 || Le32At(file, 0) != 0xFFFFFFFF) return std::string();
  return std::string(file.begin() + 4, file.begin() + 12);
}
bool TaggedTestFile(const Bytes& file) {
  const std::string tag = TagOf(file);
  return tag == "VNSKETCH" || tag == "VNFOLLOW" || tag == "VNDIRCRC" || tag == "VNDIRFOL" || tag == "VNDIRSKT";
}
bool TaggedRepairFile(const Bytes& file) {
  const std::string tag = TagOf(file);
  return tag == "VNASKING" || tag == "VNDIRFIX" || tag == "VNDIRASK";
}

// Whether a request for a larger test file holds together, field by field from its layout.
bool RequestHolds(const Bytes& request) {
  if (request.size() != 80 || Le32At(request, 12) != 1) return false;
  const uint64_t brokenSize = Le64At(request, 16), answered = Le64At(request, 24), asked = Le64At(request, 56);
  if (brokenSize > uint64_t{0xFFFFFFFF} * kBlock) return false;
  const uint64_t plain = (brokenSize >= (uint64_t{1} << 32) ? 12 : 4) + 4 * ((brokenSize + kBlock - 1) / kBlock);
  const auto compact = [](uint64_t length) { return length >= 1076 + 24 && (length - 1076) % 24 == 0; };
  if (!compact(answered) || answered > plain || asked <= answered || asked > plain || (asked != plain && !compact(asked))) {
    return false;
  }
  const Hash128 check = Xxh3Hash128(request.data(), 64);
  for (int i = 0; i < 8; ++i) {
    if (request[64 + i] != static_cast<uint8_t>(check.high >> (56 - 8 * i)) ||
        request[72 + i] != static_cast<uint8_t>(check.low >> (56 - 8 * i))) {
      return false;
    }
  }
  return true;
}

// The first length bytes of the broken file as the plan rewrites it: its own bytes, zeros
// behind them, the repair blocks over both up to the valid size.
Bytes RepairedPrefix(const RepairPlan& plan, const Bytes& repair, const Bytes& broken, uint64_t length) {
  Bytes bytes(length, 0);
  std::copy_n(broken.begin(), std::min<uint64_t>(broken.size(), length), bytes.begin());
  const uint64_t blocksStart = plan.headerBytes + 4 * plan.damagedCount;
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
  // Where a follow-up, or the larger test file a request asks for, would go.
  static const std::string testPath = ScratchPath("broken.crc");
  RemoveFile(testPath);
  WriteFileBytes(brokenPath, broken.data(), broken.size());
  WriteFileBytes(repairPath, repair.data(), repair.size());

  RefuseBoxes();
  const Outcome result = StreamRepairBrokenFile(brokenPath.c_str(), repairPath.c_str(), RepairOptions{}, StreamControl{});

  RequireNothingHeld();
  Require(ReadFileBytes(repairPath) == repair, "the repair file changed");
  const Bytes after = ReadFileBytes(brokenPath);
  const RepairPlan plan = ReadPlan(repair, broken.size());

  // An exchange file in the wrong field, refused before anything is written.
  if (result.ending == Ending::Stopped &&
      (result.step == Step::BrokenIsTestFile || result.step == Step::BrokenIsRepairFile || result.step == Step::RepairIsTestFile)) {
    Require(after == broken && !FileExists(testPath), "an exchange file in the wrong field changed something");
    if (result.step == Step::BrokenIsTestFile) Require(TaggedTestFile(broken), "a broken file taken for a test file");
    if (result.step == Step::BrokenIsRepairFile) {
      Require(TaggedRepairFile(broken) || ReadPlan(broken, 0).fingerprinted, "a broken file taken for a repair file");
    }
    if (result.step == Step::RepairIsTestFile) Require(!plan.fingerprinted, "a repair file that holds taken for a test file");
    return 0;
  }
  if (repair.size() >= 12 && Le32At(repair, 0) == 0xFFFFFFFF && std::equal(repair.begin() + 4, repair.begin() + 12, "VNASKING")) {
    Require(RequestHolds(repair) ? result.ending == Ending::OtherFile
                                 : result.ending == Ending::Stopped && result.step == Step::CheckAskingRepairFile,
            "a request for a larger test file was not refused at the right check");
    Require(after == broken && !FileExists(testPath), "a refused request wrote something");
    return 0;
  }

  if (result.ending == Ending::Done || result.ending == Ending::Differs) {
    Require(plan.applies, "a repair file that does not fit was applied");
    Require(after.size() == plan.validSize, "the repaired file does not have the valid size");
    Require(after == RepairedPrefix(plan, repair, broken, plan.validSize), "the repaired file has the wrong contents");
    return 0;
  }
  if (result.ending == Ending::OtherFile) {
    Require(plan.applies && plan.recorded, "a repair file without a record of the broken file refused it as another");
    Require(after == broken, "a repair refused as made for another file changed the broken file");
    return 0;
  }
  Require(result.ending == Ending::Stopped, "a repair neither done nor stopped");
  if (!result.brokenFileChanged) {
    Require(result.step != Step::WriteRepaired || plan.applies, "a repair file that does not fit reached the write");
    Require(result.step == Step::WriteRepaired || !plan.applies, "a repair file that fits was refused");
    Require(after == broken, "the broken file changed although the repair said it did not");
    return 0;
  }

  // A write failed at the cap, after others: every block holds what it held or what the repair
  // puts there, and the length lies between the old one and the valid size.
  Require(plan.applies, "a repair file that does not fit was written");
  Require(result.step == Step::WriteRepaired, "a repair stopped after writing elsewhere than at a write");
  Require(plan.validSize > kFileSizeLimit || broken.size() > kFileSizeLimit, "a write failed below the file size cap");
  const uint64_t longest = std::max<uint64_t>(broken.size(), plan.validSize);
  Require(after.size() >= std::min<uint64_t>(broken.size(), plan.validSize) && after.size() <= longest,
          "a failed write left a wrong length");
  const Bytes repaired = RepairedPrefix(plan, repair, broken, after.size());
  for (uint64_t start = 0; start < after.size(); start += kBlock) {
    const uint64_t end = std::min<uint64_t>(start + kBlock, after.size());
    const auto at = [start](const Bytes& bytes) { return bytes.begin() + static_cast<std::ptrdiff_t>(start); };
    const bool asRepaired = std::equal(at(after), at(after) + static_cast<std::ptrdiff_t>(end - start), at(repaired));
    bool asBefore = true;
    for (uint64_t i = start; i < end && asBefore; ++i) asBefore = after[i] == (i < broken.size() ? broken[i] : 0);
    Require(asRepaired || asBefore, "a failed write left foreign bytes");
  }
  return 0;
}
