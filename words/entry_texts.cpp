// The words for the entries of a folder.
#include "words/entry_texts.h"

#include <string>

#include "core/folder_test_file.h"
#include "words/step_texts.h"

const char* NameFaultText(NameFault fault) {
  switch (fault) {
    case NameFault::None: return "";
    case NameFault::Empty: return entry_text::kNameEmpty;
    case NameFault::Absolute: return entry_text::kNameAbsolute;
    case NameFault::DotComponent: return entry_text::kNameDot;
    case NameFault::Backslash: return entry_text::kNameBackslash;
    case NameFault::Colon: return entry_text::kNameColon;
    case NameFault::ControlCharacter: return entry_text::kNameControl;
    case NameFault::NotUtf8: return entry_text::kNameNotUtf8;
    case NameFault::ForbiddenCharacter: return entry_text::kNameForbidden;
    case NameFault::ReservedName: return entry_text::kNameReserved;
    case NameFault::TrailingDotOrSpace: return entry_text::kNameTrailing;
    case NameFault::TooLong: return entry_text::kNameTooLong;
    case NameFault::CaseClash: return entry_text::kNameCaseClash;
  }
  return "";
}

const char* EventFormat(const EntryReport& entry) {
  switch (entry.event) {
    case EntryEvent::Skipped: return entry_text::kSkipped;
    case EntryEvent::Damaged: return entry.blocks == 0 ? entry_text::kLengthDiffers : entry_text::kDamaged;
    case EntryEvent::Missing: return entry_text::kMissing;
    case EntryEvent::FolderMissing: return entry_text::kFolderMissing;
    case EntryEvent::CaseDiffers: return entry_text::kCaseDiffers;
    case EntryEvent::Extra: return entry.folder ? entry_text::kExtraFolder : entry_text::kExtra;
    case EntryEvent::Repaired: return entry_text::kRepaired;
    case EntryEvent::Created: return entry_text::kCreated;
    case EntryEvent::FolderCreated: return entry_text::kFolderCreated;
    case EntryEvent::Renamed: return entry_text::kRenamed;
    case EntryEvent::Deleted: return entry.folder ? entry_text::kFolderDeleted : entry_text::kDeleted;
    case EntryEvent::Mismatch: return entry_text::kMismatch;
    case EntryEvent::Verified: return entry_text::kVerified;
  }
  return "";
}

std::string SkipReasonText(const EntryReport& entry, const char* systemText) {
  const std::string system = systemText != nullptr ? systemText : "";
  switch (entry.skip) {
    case EntrySkip::None: return "";
    case EntrySkip::Link: return entry_text::kSkipLink;
    case EntrySkip::NotRegular: return entry_text::kSkipNotRegular;
    case EntrySkip::Unreadable: return std::string(StepMessage(entry.step)) + (system.empty() ? "" : " " + system);
    case EntrySkip::BadName: return std::string(entry_text::kSkipBadName) + NameFaultText(entry.nameFault);
    case EntrySkip::TooDeep: return entry_text::kSkipTooDeep;
    case EntrySkip::BrokenSide: {
      const char* why = entry_text::kSkipBrokenUnreadable;
      if (entry.brokenReason == SkipReason::Link) why = entry_text::kSkipLink;
      if (entry.brokenReason == SkipReason::NotRegular) why = entry_text::kSkipNotRegular;
      return std::string(entry_text::kSkipBrokenSide) + why;
    }
    case EntrySkip::NotPossibleThere: return std::string(entry_text::kSkipNotPossibleThere) + NameFaultText(entry.nameFault);
    case EntrySkip::NameTaken: return entry_text::kSkipNameTaken;
    case EntrySkip::Gone: return entry_text::kSkipGone;
    case EntrySkip::NotEmpty: return entry_text::kSkipNotEmpty;
  }
  return "";
}
