// Outcomes.
#include "core/outcome.h"

bool FoundByProgram(Step step) {
  switch (step) {
    case Step::CheckTestFileSize:
    case Step::CheckCompactTestFile:
    case Step::CheckAskingRepairFile:
    case Step::CheckTestFileBudget:
    case Step::BrokenIsTestFile:
    case Step::BrokenIsRepairFile:
    case Step::ValidIsTestFile:
    case Step::ValidIsRepairFile:
    case Step::TestIsRepairFile:
    case Step::RepairIsTestFile:
    case Step::CheckEarlierTestFile:
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
    case Step::CheckFolderFollowUp:
      return true;
    case Step::KeepFileAttributes:
    case Step::ReadValidStamp:
    case Step::SetFileStamp:
    case Step::OpenBroken:
    case Step::SizeBroken:
    case Step::AllocateBroken:
    case Step::ReadBroken:
    case Step::AllocateTestFileBuffer:
    case Step::CreateOutput:
    case Step::WriteOutput:
    case Step::OpenValid:
    case Step::OpenTest:
    case Step::SizeValid:
    case Step::AllocateValid:
    case Step::SizeTest:
    case Step::AllocateTest:
    case Step::ReadValid:
    case Step::ReadTest:
    case Step::CommitList:
    case Step::OpenRepair:
    case Step::SizeRepair:
    case Step::CommitRepairBuffer:
    case Step::ReadRepair:
    case Step::CommitBrokenBuffer:
    case Step::WriteRepaired:
    case Step::OpenBrokenFolder:
    case Step::OpenValidFolder:
    case Step::ListFolder:
    case Step::AllocateListing:
    case Step::CreateFolder:
    case Step::RenameEntry:
    case Step::RemoveExtra:
    case Step::AllocateRepairPlan:
    case Step::AllocateRepairEntry:
    case Step::AllocateFingerprint:
    case Step::AllocateReadBack:
    case Step::ReadBack:
    case Step::CreateFollowUp:
    case Step::WriteFollowUp:
      return false;
  }
  return false;
}

Outcome DoneOutcome() { return Outcome{}; }

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

bool AppliedBefore(const Outcome& outcome) { return !outcome.blocks.empty() && outcome.blocksWritten == 0; }
