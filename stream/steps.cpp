// Outcomes, progress and the small helpers of the streaming operations.
#include "stream/steps.h"

#include <cstring>

Outcome Stopped(Step step, SystemError failed) {
  Outcome outcome = StoppedOutcome(step, failed.code);
  if (failed.holder != nullptr) outcome.holder = failed.holder;
  // The file's size was taken before it was read, so an early end means it changed since.
  if (failed.Is(SystemErrorKind::EndOfFile)) outcome.detail = StopDetail::FileChangedWhileRead;
  return outcome;
}

Outcome Refused(Step step) { return StoppedOutcome(step, 0); }

SystemError FailureOf(const Outcome& stopped) {
  return SystemError{stopped.systemError, stopped.holder.empty() ? nullptr : stopped.holder.c_str()};
}

bool Progress::StopRequested() const {
  return control_.stop != nullptr && control_.stop->load(std::memory_order_relaxed);
}

void Progress::Advance(uint64_t bytes) {
  done_ += bytes;
  if (control_.progress != nullptr) control_.progress(control_.context, done_, total_);
}

SystemError ReadPadded(const File& file, uint64_t offset, uint8_t* buffer, uint32_t count, uint32_t padTo) {
  if (count > 0) {
    if (const SystemError failed = ReadAt(file, offset, buffer, count)) return failed;
  }
  if (padTo > count) std::memset(buffer + count, 0, padTo - count);
  return SystemError{};
}
