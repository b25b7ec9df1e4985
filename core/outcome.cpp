// Outcomes.
#include "core/outcome.h"

bool FoundByProgram(Step step) {
  switch (step) {
    case Step::CheckTestFileSize:
    case Step::CheckLargeTestFile:
    case Step::CheckRepairFile:
    case Step::CheckLargeRepairFile:
    case Step::CheckTestFileForFolder:
    case Step::CheckRepairFileForFolder:
    case Step::CheckTestFileForOneFile:
    case Step::CheckRepairFileForOneFile:
    case Step::CheckFolderTestFile:
    case Step::CheckFolderRepairFile:
    case Step::CheckRepairFileName:
    case Step::CheckFingerprint:
    case Step::CheckFollowUp:
      return true;
    default:
      return false;
  }
}

Outcome DoneOutcome() {
  Outcome outcome;
  outcome.ending = Ending::Done;
  return outcome;
}

Outcome IdenticalOutcome() {
  Outcome outcome;
  outcome.ending = Ending::Identical;
  return outcome;
}

Outcome StoppedOutcome(Step step, uint32_t systemError) {
  Outcome outcome;
  outcome.ending = Ending::Stopped;
  outcome.step = step;
  outcome.systemError = systemError;
  return outcome;
}

Outcome CancelledOutcome(bool brokenFileChanged) {
  Outcome outcome;
  outcome.ending = Ending::Cancelled;
  outcome.brokenFileChanged = brokenFileChanged;
  return outcome;
}
