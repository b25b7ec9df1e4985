// The words for each step: its member of the table's StepWords. The build makes the switch
// exhaustive, so a new step cannot go without words.
#include "words/step_texts.h"

#include "platform/platform.h"

const char* HeldFormat(uint32_t systemError, const std::string& holder) {
  if (!IsHeldByAnotherProgram(systemError)) return nullptr;
  const SharedWords& said = CurrentWords().shared;
  return holder.empty() ? said.heldByAnother : said.heldBy;
}

const char* StepMessage(Step step, const Words& words) {
  const StepWords& said = words.steps;
  switch (step) {
    case Step::OpenBroken: return said.openBroken;
    case Step::SizeBroken: return said.sizeBroken;
    case Step::AllocateBroken: return said.allocateBroken;
    case Step::ReadBroken: return said.readBroken;
    case Step::AllocateTestFileBuffer: return said.allocateTestFileBuffer;
    case Step::CreateOutput: return said.createOutput;
    case Step::WriteOutput: return said.writeOutput;
    case Step::OpenValid: return said.openValid;
    case Step::OpenTest: return said.openTest;
    case Step::SizeValid: return said.sizeValid;
    case Step::AllocateValid: return said.allocateValid;
    case Step::SizeTest: return said.sizeTest;
    case Step::CheckTestFileSize: return said.checkTestFileSize;
    case Step::CheckLargeTestFile: return said.checkLargeTestFile;
    case Step::AllocateTest: return said.allocateTest;
    case Step::ReadValid: return said.readValid;
    case Step::ReadTest: return said.readTest;
    case Step::CommitList: return said.commitList;
    case Step::OpenRepair: return said.openRepair;
    case Step::SizeRepair: return said.sizeRepair;
    case Step::CommitRepairBuffer: return said.commitRepairBuffer;
    case Step::ReadRepair: return said.readRepair;
    case Step::CheckRepairFile: return said.checkRepairFile;
    case Step::CheckLargeRepairFile: return said.checkLargeRepairFile;
    case Step::CommitBrokenBuffer: return said.commitBrokenBuffer;
    case Step::WriteRepaired: return said.writeRepaired;
    case Step::CheckTestFileForFolder: return said.checkTestFileForFolder;
    case Step::CheckRepairFileForFolder: return said.checkRepairFileForFolder;
    case Step::OpenBrokenFolder: return said.openBrokenFolder;
    case Step::OpenValidFolder: return said.openValidFolder;
    case Step::ListFolder: return said.listFolder;
    case Step::AllocateListing:
    case Step::AllocateRepairPlan:
    case Step::AllocateRepairEntry: return said.allocateListing;
    case Step::CheckTestFileForOneFile: return said.checkTestFileForOneFile;
    case Step::CheckRepairFileForOneFile: return said.checkRepairFileForOneFile;
    case Step::CheckFolderTestFile: return said.checkFolderTestFile;
    case Step::CheckFolderRepairFile: return said.checkFolderRepairFile;
    case Step::CheckRepairFileName: return said.checkRepairFileName;
    case Step::CreateFolder: return said.createFolder;
    case Step::RenameEntry: return said.renameEntry;
    case Step::RemoveExtra: return said.removeExtra;
    case Step::AllocateFingerprint: return said.allocateFingerprint;
    case Step::CheckFingerprint: return said.checkFingerprint;
    case Step::AllocateReadBack: return said.allocateReadBack;
    case Step::ReadBack: return said.readBack;
    case Step::CreateFollowUp: return said.createFollowUp;
    case Step::WriteFollowUp: return said.writeFollowUp;
    case Step::CheckFollowUp: return said.checkFollowUp;
    case Step::KeepFileAttributes: return said.keepFileAttributes;
    case Step::CheckFolderFollowUp: return said.checkFolderFollowUp;
    case Step::CheckCompactTestFile: return said.checkCompactTestFile;
    case Step::CheckAskingRepairFile: return said.checkAskingRepairFile;
    case Step::CheckTestFileBudget: return said.checkTestFileBudget;
    case Step::ReadValidStamp: return said.readValidStamp;
    case Step::SetFileStamp: return said.setFileStamp;
    case Step::BrokenIsTestFile: return said.brokenIsTestFile;
    case Step::BrokenIsRepairFile: return said.brokenIsRepairFile;
    case Step::ValidIsTestFile: return said.validIsTestFile;
    case Step::ValidIsRepairFile: return said.validIsRepairFile;
    case Step::TestIsRepairFile: return said.testIsRepairFile;
    case Step::RepairIsTestFile: return said.repairIsTestFile;
    case Step::CheckEarlierTestFile: return said.checkEarlierTestFile;
  }
  return "";
}

const char* StepMessage(Step step) { return StepMessage(step, CurrentWords()); }
