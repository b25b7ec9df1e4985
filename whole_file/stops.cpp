// Ending an operation early.
#include "whole_file/stops.h"

#include "platform/platform.h"

namespace {

Outcome Tell(const Reporter& reporter, Outcome outcome) {
  if (reporter.report != nullptr) reporter.report(reporter.context, outcome);
  return outcome;
}

}  // namespace

Outcome StopAt(const Reporter& reporter, Step step) { return Tell(reporter, StoppedOutcome(step, LastSystemError())); }

Outcome StopAt(const Reporter& reporter, Step step, uint32_t systemError) {
  SetLastSystemError(systemError);
  return Tell(reporter, StoppedOutcome(step, systemError));
}

Outcome StopFound(const Reporter& reporter, Step step) { return Tell(reporter, StoppedOutcome(step, 0)); }

Outcome ReportIdentical(const Reporter& reporter) { return Tell(reporter, IdenticalOutcome()); }
