// The whole exchange on arbitrary pairs of copies: the broken-file scan, the valid-file scan and
// the repair, and where the repair finds damage the checksums missed, the follow-up's round.
// Whatever the two copies hold, the exchange must end with the broken copy equal to the valid
// one (copies whose checksums all match get a repair file of no blocks, which proves them the
// same or finds what differs), with nothing held after any call and every input of a call
// unchanged. A copy that is itself a tagged exchange file is refused where it stands, as what
// it is.
//
// Input: a 16-bit little-endian length L, L bytes of valid file (fewer when the input ends
// first), then the broken file.

#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "stream/operations.h"

namespace {

constexpr size_t kLargestInput = 64 * 1024;

Outcome ScanValid(const std::string& valid, const std::string& test, const std::string& folder) {
  const Bytes before = ReadFileBytes(test);
  const Outcome result = StreamScanValidFile(valid.c_str(), test.c_str(), folder.c_str(), StreamControl{});
  RequireNothingHeld();
  Require(ReadFileBytes(test) == before, "the valid-file scan changed its test file");
  return result;
}

Outcome Repair(const std::string& broken, const std::string& fix) {
  const Bytes before = ReadFileBytes(fix);
  const Outcome result = StreamRepairBrokenFile(broken.c_str(), fix.c_str(), RepairOptions{}, StreamControl{});
  RequireNothingHeld();
  Require(ReadFileBytes(fix) == before, "the repair changed its repair file");
  return result;
}

// Whether a copy starts as a tagged exchange file does: the large form's marker, then "VN".
bool Tagged(const Bytes& file) {
  return file.size() >= 12 && file[0] == 0xFF && file[1] == 0xFF && file[2] == 0xFF && file[3] == 0xFF && file[4] == 'V' &&
         file[5] == 'N';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kLargestInput) return -1;
  RefuseBoxes();
  const size_t headerLength = std::min<size_t>(size, 2);
  const size_t declared = headerLength == 2 ? data[0] | size_t{data[1]} << 8 : 0;
  const size_t validLength = std::min(declared, size - headerLength);
  const Bytes valid(data + headerLength, data + headerLength + validLength);
  const Bytes broken(data + headerLength + validLength, data + size);

  // The two sides in folders of their own, as on two machines.
  static const std::string validPath = ScratchPath("valid.bin");
  static const std::string brokenFolder = ScratchPath("broken");
  static const bool made = (MakeFolder(brokenFolder), true);
  static const std::string brokenPath = ScratchPath("broken/copy.bin");
  static const std::string testPath = ScratchPath("broken/copy.crc");
  static const std::string fixPath = ScratchPath("valid.fix");
  static const std::string validFolder = fixPath.substr(0, fixPath.rfind('/'));
  (void)made;
  WriteFileBytes(validPath, valid.data(), valid.size());
  WriteFileBytes(brokenPath, broken.data(), broken.size());
  RemoveFile(testPath);
  RemoveFile(fixPath);

  const Outcome scanned = StreamScanBrokenFile(brokenPath.c_str(), brokenFolder.c_str(), StreamControl{});
  RequireNothingHeld();
  if (scanned.ending == Ending::Stopped && (scanned.step == Step::BrokenIsTestFile || scanned.step == Step::BrokenIsRepairFile)) {
    Require(Tagged(broken) || scanned.step == Step::BrokenIsRepairFile, "a broken file taken for a test file");
    Require(!FileExists(testPath), "a refused broken file was scanned");
    return 0;
  }
  Require(scanned.ending == Ending::Done, "the broken-file scan did not finish");
  Require(ReadFileBytes(brokenPath) == broken, "the broken-file scan changed the broken file");

  const Outcome fixed = ScanValid(validPath, testPath, validFolder);
  Require(ReadFileBytes(validPath) == valid, "the valid-file scan changed the valid file");
  if (valid.empty()) {
    Require(fixed.ending == Ending::Stopped && fixed.step == Step::AllocateValid, "an empty valid file was scanned");
    return 0;
  }
  if (fixed.ending == Ending::Stopped && (fixed.step == Step::ValidIsTestFile || fixed.step == Step::ValidIsRepairFile)) {
    Require(Tagged(valid) || fixed.step == Step::ValidIsRepairFile, "a valid file taken for a test file");
    Require(!FileExists(fixPath), "a refused valid file was answered");
    return 0;
  }
  // Matching checksums write their proof, which the repair applies like any repair file.
  if (fixed.ending == Ending::Identical) Require(valid.size() == broken.size(), "copies of different length were found identical");
  Require(fixed.ending == Ending::Done || fixed.ending == Ending::Identical, "the valid-file scan did not finish");

  Outcome repaired = Repair(brokenPath, fixPath);
  if (repaired.ending == Ending::Stopped && (repaired.step == Step::BrokenIsTestFile || repaired.step == Step::BrokenIsRepairFile)) {
    Require(Tagged(broken) || repaired.step == Step::BrokenIsRepairFile, "a broken file taken for a test file");
    Require(ReadFileBytes(brokenPath) == broken, "a refused broken file changed");
    return 0;
  }
  if (repaired.ending == Ending::Differs) {
    // The follow-up replaced the test file: its answer must finish the repair.
    Require(ScanValid(validPath, testPath, validFolder).ending == Ending::Done, "the follow-up was not answered");
    repaired = Repair(brokenPath, fixPath);
  }
  Require(repaired.ending == Ending::Done && repaired.verification == Verification::Verified,
          "the exchange did not end in a verified file");
  Require(ReadFileBytes(brokenPath) == valid, "the exchange did not restore the valid file");
  return 0;
}
