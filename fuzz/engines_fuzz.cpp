// Both engines on the same arbitrary inputs: the dialog's operations and the streaming ones
// must end the same way (done, identical, differing, or the same step and error), write the
// same repair file and follow-up, and leave the same bytes in the broken file. A follow-up test
// file, which only the streaming scan answers, goes to it alone.
//
// Input: a first byte choosing what is fuzzed.
// - Even: a valid-file scan. A 16-bit little-endian length L, L bytes of valid file (fewer
//   when the input ends first), then the test file.
// - Odd: a repair. A 32-bit little-endian length L, L bytes of repair file, then the broken
//   file.
// File writes are capped (RLIMIT_FSIZE) as in repair_fuzz: a hostile valid size makes both
// repairs fail at their writes, where the two may have written different amounts.

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/file_kinds.h"
#include "whole_file/operations.h"
#include "fuzz/fuzz_support.h"
#include "stream/operations.h"

namespace {

constexpr size_t kLargestInput = 128 * 1024;

// How an operation ended, in the terms both engines share: a stop names its step and the
// system's error code.
struct Ended {
  Ending ending;
  Step step;
  uint32_t systemError;
  bool operator==(const Ended& other) const {
    if (ending != other.ending) return false;
    return ending != Ending::Stopped || (step == other.step && systemError == other.systemError);
  }
};

Ended Of(const Outcome& outcome) { return Ended{outcome.ending, outcome.step, outcome.systemError}; }

// The dialog's operation reports once when it does not finish, and what it returns.
Ended OfDialog(const Outcome& outcome) {
  Require(Reported().size() == (outcome.ending == Ending::Done ? 0u : 1u),
          "the dialog's operation did not report exactly its one stop");
  if (!Reported().empty()) Require(Of(Reported()[0]) == Of(outcome), "the dialog's operation reported another outcome");
  return Of(outcome);
}

void FuzzValidScan(const uint8_t* data, size_t size) {
  const size_t headerLength = std::min<size_t>(size, 2);
  const size_t declared = headerLength == 2 ? data[0] | size_t{data[1]} << 8 : 0;
  const size_t validLength = std::min(declared, size - headerLength);
  const uint8_t* valid = data + headerLength;
  const Bytes test(valid + validLength, data + size);

  static const std::string dialogValid = ScratchPath("dialog.bin");
  static const std::string streamValid = ScratchPath("stream.bin");
  static const std::string dialogFix = ScratchPath("dialog.fix");
  static const std::string streamFix = ScratchPath("stream.fix");
  static const std::string testPath = ScratchPath("test.crc");
  static const std::string folder = testPath.substr(0, testPath.rfind('/'));
  WriteFileBytes(dialogValid, valid, validLength);
  WriteFileBytes(streamValid, valid, validLength);
  WriteFileBytes(testPath, test.data(), test.size());
  RemoveFile(dialogFix);
  RemoveFile(streamFix);
  if (test.size() >= kTagBytes && ReadExchangeFileKind(test.data(), test.size()) == ExchangeFileKind::FollowUpTestFile) {
    StreamScanValidFile(streamValid.c_str(), testPath.c_str(), folder.c_str(), StreamControl{});
    RequireNothingHeld();
    Require(ReadFileBytes(testPath) == test, "the test file changed");
    return;
  }

  StartRecording();
  const Ended dialog = OfDialog(ScanValidFile(RecordingReporter(), dialogValid.c_str(), testPath.c_str(), folder.c_str()));
  RequireNothingHeld();
  StartRecording();
  const Ended stream =
      Of(StreamScanValidFile(streamValid.c_str(), testPath.c_str(), folder.c_str(), StreamControl{}));
  RequireNothingHeld();

  Require(dialog == stream, "the engines ended a valid-file scan differently");
  Require(FileExists(dialogFix) == FileExists(streamFix), "one engine wrote a repair file and the other did not");
  if (FileExists(dialogFix)) Require(ReadFileBytes(dialogFix) == ReadFileBytes(streamFix), "the repair files differ");
  Require(ReadFileBytes(testPath) == test, "the test file changed");
}

void FuzzRepair(const uint8_t* data, size_t size) {
  const size_t headerLength = std::min<size_t>(size, 4);
  const uint32_t declared = Le32At(Bytes(data, data + headerLength), 0);
  const uint8_t* body = data + headerLength;
  const size_t repairLength = std::min<size_t>(declared, size - headerLength);
  const Bytes repair(body, body + repairLength);
  const Bytes broken(body + repairLength, data + size);

  static const std::string dialogBroken = ScratchPath("dialog-broken.bin");
  static const std::string streamBroken = ScratchPath("stream-broken.bin");
  static const std::string repairPath = ScratchPath("repair.fix");
  // Where each repair writes its follow-up, beside its broken file.
  static const std::string dialogFollowUp = ScratchPath("dialog-broken.crc");
  static const std::string streamFollowUp = ScratchPath("stream-broken.crc");
  RemoveFile(dialogFollowUp);
  RemoveFile(streamFollowUp);
  WriteFileBytes(dialogBroken, broken.data(), broken.size());
  WriteFileBytes(streamBroken, broken.data(), broken.size());
  WriteFileBytes(repairPath, repair.data(), repair.size());

  StartRecording();
  const Ended dialog = OfDialog(RepairBrokenFile(RecordingReporter(), dialogBroken.c_str(), repairPath.c_str()));
  RequireNothingHeld();
  StartRecording();
  const Outcome result = StreamRepairBrokenFile(streamBroken.c_str(), repairPath.c_str(), RepairOptions{}, StreamControl{});
  const Ended stream = Of(result);
  RequireNothingHeld();
  Require(ReadFileBytes(repairPath) == repair, "the repair file changed");

  // Where the dialog cannot have the broken-file buffer (a valid size of 0, which is the large
  // form's first word, or one from 0xFFFFF001 up) it accepts nothing; the streaming repair
  // reads such a file as what it is, and must still stop cleanly under the write cap.
  if (dialog.ending == Ending::Stopped && dialog.step == Step::CommitBrokenBuffer) {
    Require(ReadFileBytes(dialogBroken) == broken, "the dialog's refused repair changed the broken file");
    if (stream.ending != Ending::Done) Require(result.brokenFileChanged || ReadFileBytes(streamBroken) == broken,
                              "a stopped streaming repair changed the file without saying so");
    return;
  }
  Require(dialog == stream, "the engines ended a repair differently");
  // Both stopped at the write, under the cap: each may have written a different part.
  if (dialog.ending == Ending::Stopped && dialog.step == Step::WriteRepaired) return;
  Require(ReadFileBytes(dialogBroken) == ReadFileBytes(streamBroken), "the engines left different broken files");
  // A result that still differs has been written, and its follow-up with it.
  if (stream.ending == Ending::Differs) {
    Require(ReadFileBytes(dialogFollowUp) == ReadFileBytes(streamFollowUp), "the engines wrote different follow-ups");
  } else if (stream.ending != Ending::Done) {
    Require(!result.brokenFileChanged, "a repair refused before writing says it wrote");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool capped = (CapFileWrites(), true);
  (void)capped;
  if (size == 0 || size > kLargestInput) return -1;
  if (data[0] % 2 == 0) {
    FuzzValidScan(data + 1, size - 1);
  } else {
    FuzzRepair(data + 1, size - 1);
  }
  return 0;
}
