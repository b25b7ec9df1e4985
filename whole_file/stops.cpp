// Ending an operation early.
#include "whole_file/stops.h"

#include "platform/platform.h"

namespace {

Outcome Tell(const Reporter& reporter, Outcome outcome) {
  if (reporter.report != nullptr) reporter.report(reporter.context, outcome);
  return outcome;
}

}  // namespace

Outcome StoppedAt(const Reporter& reporter, Step step) {
  Outcome outcome = StoppedOutcome(step, LastSystemError());
  if (IsHeldByAnotherProgram(outcome.systemError)) outcome.holder = LastFileHolder();
  // Every file is measured before it is read, so an early end means it changed since.
  if (outcome.systemError == SystemErrorCode(SystemErrorKind::EndOfFile)) {
    outcome.detail = StopDetail::FileChangedWhileRead;
  }
  return Tell(reporter, outcome);
}

Outcome StoppedAt(const Reporter& reporter, Step step, uint32_t systemError) {
  SetLastSystemError(systemError);
  return Tell(reporter, StoppedOutcome(step, systemError));
}

Outcome Refused(const Reporter& reporter, Step step) { return Tell(reporter, StoppedOutcome(step, 0)); }

Outcome ReportIdentical(const Reporter& reporter) { return Tell(reporter, IdenticalOutcome()); }
