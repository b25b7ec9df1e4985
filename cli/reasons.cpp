// The table of reasons: a case is a row, its code and the path it concerns. The codes are a
// promise to scripts: a row may be added, never renamed.
#include "cli/reasons.h"

#include "cli/commands.h"

Reason StepReason(Step step) {
  using enum Subject;
  switch (step) {
    case Step::OpenBroken: return {"open_broken", Input};
    case Step::SizeBroken: return {"size_broken", Input};
    case Step::AllocateBroken: return {"allocate_broken", Input};
    case Step::ReadBroken: return {"read_broken", Input};
    case Step::AllocateTestFileBuffer: return {"allocate_test_file_buffer", Output};
    case Step::CreateOutput: return {"create_output", Output};
    case Step::WriteOutput: return {"write_output", Output};
    case Step::OpenValid: return {"open_valid", Input};
    case Step::OpenTest: return {"open_test", TestFile};
    case Step::SizeValid: return {"size_valid", Input};
    case Step::AllocateValid: return {"allocate_valid", Input};
    case Step::SizeTest: return {"size_test", TestFile};
    case Step::CheckTestFileSize: return {"check_test_file_size", TestFile};
    case Step::CheckLargeTestFile: return {"check_large_test_file", TestFile};
    case Step::AllocateTest: return {"allocate_test", TestFile};
    case Step::ReadValid: return {"read_valid", Input};
    case Step::ReadTest: return {"read_test", TestFile};
    case Step::CommitList: return {"commit_list", Output};
    case Step::OpenRepair: return {"open_repair", RepairFile};
    case Step::SizeRepair: return {"size_repair", RepairFile};
    case Step::CommitRepairBuffer: return {"commit_repair_buffer", RepairFile};
    case Step::ReadRepair: return {"read_repair", RepairFile};
    case Step::CheckRepairFile: return {"check_repair_file", RepairFile};
    case Step::CheckLargeRepairFile: return {"check_large_repair_file", RepairFile};
    case Step::CommitBrokenBuffer: return {"commit_broken_buffer", Input};
    case Step::WriteRepaired: return {"write_repaired", Input};
    case Step::CheckTestFileForFolder: return {"check_test_file_for_folder", TestFile};
    case Step::CheckRepairFileForFolder: return {"check_repair_file_for_folder", RepairFile};
    case Step::OpenBrokenFolder: return {"open_broken_folder", Input};
    case Step::OpenValidFolder: return {"open_valid_folder", Input};
    case Step::ListFolder: return {"list_folder", Input};
    case Step::AllocateListing: return {"allocate_listing", Input};
    case Step::CheckTestFileForOneFile: return {"check_test_file_for_one_file", TestFile};
    case Step::CheckRepairFileForOneFile: return {"check_repair_file_for_one_file", RepairFile};
    case Step::CheckFolderTestFile: return {"check_folder_test_file", TestFile};
    case Step::CheckFolderRepairFile: return {"check_folder_repair_file", RepairFile};
    case Step::CheckRepairFileName: return {"check_repair_file_name", RepairFile};
    case Step::CreateFolder: return {"create_folder", Input};
    case Step::RenameEntry: return {"rename_entry", Input};
    case Step::RemoveExtra: return {"remove_extra", Input};
    case Step::AllocateRepairPlan: return {"allocate_repair_plan", RepairFile};
    case Step::AllocateRepairEntry: return {"allocate_repair_entry", Input};
    case Step::AllocateFingerprint: return {"allocate_fingerprint", Input};
    case Step::CheckFingerprint: return {"check_fingerprint", RepairFile};
    case Step::AllocateReadBack: return {"allocate_read_back", Input};
    case Step::ReadBack: return {"read_back", Input};
    case Step::CreateFollowUp: return {"create_follow_up", FollowUp};
    case Step::WriteFollowUp: return {"write_follow_up", FollowUp};
    case Step::CheckFollowUp: return {"check_follow_up", TestFile};
    case Step::KeepFileAttributes: return {"keep_file_attributes", Input};
    case Step::CheckFolderFollowUp: return {"check_folder_follow_up", TestFile};
    case Step::CheckCompactTestFile: return {"check_compact_test_file", TestFile};
    case Step::CheckAskingRepairFile: return {"check_asking_repair_file", RepairFile};
    case Step::CheckTestFileBudget: return {"check_test_file_budget", RepairFile};
    case Step::ReadValidStamp: return {"read_valid_stamp", Input};
    case Step::SetFileStamp: return {"set_file_stamp", Input};
    case Step::BrokenIsTestFile: return {"broken_is_test_file", Input};
    case Step::BrokenIsRepairFile: return {"broken_is_repair_file", Input};
    case Step::ValidIsTestFile: return {"valid_is_test_file", Input};
    case Step::ValidIsRepairFile: return {"valid_is_repair_file", Input};
    case Step::TestIsRepairFile: return {"test_is_repair_file", TestFile};
    case Step::RepairIsTestFile: return {"repair_is_test_file", RepairFile};
    case Step::CheckEarlierTestFile: return {"earlier_test_file", TestFile};
  }
  return {"", Input};
}

Reason CheckReason(CheckFinding finding) {
  using enum Subject;
  switch (finding) {
    // A file of the check that could not be read: no code of its own, the step's is the reason.
    case CheckFinding::None: return {nullptr, Input};
    case CheckFinding::TestFileTooShort: return {"check_refused_test_file_too_short", TestFile};
    case CheckFinding::TestFileMalformed: return {"check_refused_test_file_malformed", TestFile};
    case CheckFinding::SizeDiffers: return {"check_refused_size_differs", Input};
    case CheckFinding::BlockDiffers: return {"check_refused_block_differs", Input};
    case CheckFinding::TestFileForFolder: return {"check_refused_test_file_for_folder", TestFile};
    case CheckFinding::SketchDiffers: return {"check_refused_sketch_differs", Input};
    // Said of a request for a larger test file, which a check never reads.
    case CheckFinding::TestFileDiffers: return {"other_file_test_file_differs", Input};
    // A stale repair file is refused as made for another file.
    case CheckFinding::AnswersOtherTestFile: return {"other_file_answers_other_test_file", RepairFile};
  }
  return {"", Input};
}

Reason OtherFileReason(CheckFinding finding) {
  using enum Subject;
  switch (finding) {
    case CheckFinding::SizeDiffers: return {"other_file_size_differs", Input};
    case CheckFinding::BlockDiffers: return {"other_file_block_differs", Input};
    case CheckFinding::TestFileDiffers: return {"other_file_test_file_differs", Input};
    case CheckFinding::AnswersOtherTestFile: return {"other_file_answers_other_test_file", RepairFile};
    // The record of the broken file refuses by its size or a block only.
    case CheckFinding::None:
    case CheckFinding::TestFileTooShort:
    case CheckFinding::TestFileMalformed:
    case CheckFinding::TestFileForFolder:
    case CheckFinding::SketchDiffers: return {"other_file", Input};
  }
  return {"", Input};
}

Reason FindingReason(Finding finding) {
  using enum Subject;
  switch (finding) {
    case Finding::Identical: return {"identical", Input};
    case Finding::Cancelled: return {"cancelled", Input};
    case Finding::Differs: return {"differs", Input};
    case Finding::NoFingerprint: return {"no_fingerprint", RepairFile};
    case Finding::NotFlushed: return {"output_not_flushed", Output};
    case Finding::EntriesSkipped: return {"entries_skipped", Input};
    case Finding::EntriesOtherFile: return {"other_file", Input};
    case Finding::MoreNeeded: return {"more_needed", Output};
  }
  return {"", Input};
}

Reason EntryReason(const EntryReport& entry) {
  using enum Subject;
  switch (entry.skip) {
    case EntrySkip::None: return {nullptr, Input};
    case EntrySkip::Unreadable: return StepReason(entry.step);
    case EntrySkip::Link: return {"link", Input};
    case EntrySkip::NotRegular: return {"not_regular", Input};
    case EntrySkip::BadName: return {"bad_name", Input};
    case EntrySkip::TooDeep: return {"too_deep", Input};
    case EntrySkip::BrokenSide: return {"skipped_by_broken_scan", Input};
    case EntrySkip::NotPossibleThere: return {"name_not_possible_there", Input};
    case EntrySkip::NameTaken: return {"name_taken", Input};
    case EntrySkip::Gone: return {"gone", Input};
    case EntrySkip::NotEmpty: return {"not_empty", Input};
    case EntrySkip::OtherFile: return {"other_file", Input};
    case EntrySkip::NotSeen: return {"not_seen", Input};
    case EntrySkip::ShortName: return {"short_name", Input};
  }
  return {"", Input};
}

Reason OutcomeReason(const Outcome& outcome, int status) {
  switch (outcome.ending) {
    case Ending::Stopped: return StepReason(outcome.step);
    case Ending::CheckRefused:
      if (outcome.check.finding == CheckFinding::None) return StepReason(outcome.step);
      return CheckReason(outcome.check.finding);
    case Ending::Cancelled: return FindingReason(Finding::Cancelled);
    case Ending::OtherFile:
      // A folder's files are told entry by entry; its status says what the run comes to.
      if (outcome.check.finding != CheckFinding::None) return OtherFileReason(outcome.check.finding);
      break;
    case Ending::MoreNeeded: return FindingReason(Finding::MoreNeeded);
    case Ending::Identical:
    case Ending::Differs:
    case Ending::Done: break;
  }
  switch (status) {
    case kExitIdentical: return FindingReason(Finding::Identical);
    case kExitDiffers: return FindingReason(Finding::Differs);
    case kExitSkipped: return FindingReason(Finding::EntriesSkipped);
    case kExitNotDurable: return FindingReason(Finding::NotFlushed);
    case kExitNoFingerprint: return FindingReason(Finding::NoFingerprint);
    case kExitOtherFile: return FindingReason(Finding::EntriesOtherFile);
    default: return {nullptr, Subject::Input};
  }
}
