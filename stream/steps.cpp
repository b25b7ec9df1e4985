// Outcomes, progress and the small helpers of the streaming operations.
#include "stream/steps.h"

#include <cstring>

Outcome StoppedAt(Step step) {
  Outcome outcome = StoppedOutcome(step, LastSystemError());
  if (IsHeldByAnotherProgram(outcome.systemError)) outcome.holder = LastFileHolder();
  // The file's size was taken before it was read, so an early end means it changed since.
  if (outcome.systemError == SystemErrorCode(SystemErrorKind::EndOfFile)) {
    outcome.detail = StopDetail::FileChangedWhileRead;
  }
  return outcome;
}

Outcome StoppedAt(Step step, SystemErrorKind kind) {
  SetLastSystemError(SystemErrorCode(kind));
  return StoppedAt(step);
}

Outcome Refused(Step step) { return StoppedOutcome(step, 0); }

bool Progress::StopRequested() const {
  return control_.stop != nullptr && control_.stop->load(std::memory_order_relaxed);
}

void Progress::Advance(uint64_t bytes) {
  done_ += bytes;
  if (control_.progress != nullptr) control_.progress(control_.context, done_, total_);
}

int ReadPadded(FileHandle file, uint64_t offset, uint8_t* buffer, uint32_t count, uint32_t padTo) {
  if (count > 0 && !ReadAt(file, offset, buffer, count)) return 0;
  if (padTo > count) std::memset(buffer + count, 0, padTo - count);
  return 1;
}
