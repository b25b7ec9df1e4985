// The words for the entries of a folder, from the table in use.
#include "words/entry_texts.h"

#include <string>

#include "core/folder_test_file.h"
#include "words/step_texts.h"
#include "words/words.h"

const char* NameFaultText(NameFault fault, const Words& words) {
  const EntryWords& said = words.entries;
  switch (fault) {
    case NameFault::None: return "";
    case NameFault::Empty: return said.nameEmpty;
    case NameFault::Absolute: return said.nameAbsolute;
    case NameFault::DotComponent: return said.nameDot;
    case NameFault::Backslash: return said.nameBackslash;
    case NameFault::Colon: return said.nameColon;
    case NameFault::ControlCharacter: return said.nameControl;
    case NameFault::NotUtf8: return said.nameNotUtf8;
    case NameFault::ForbiddenCharacter: return said.nameForbidden;
    case NameFault::ReservedName: return said.nameReserved;
    case NameFault::TrailingDotOrSpace: return said.nameTrailing;
    case NameFault::TooLong: return said.nameTooLong;
    case NameFault::CaseClash: return said.nameCaseClash;
  }
  return "";
}

const char* EventFormat(const EntryReport& entry) {
  const EntryWords& said = CurrentWords().entries;
  switch (entry.event) {
    case EntryEvent::Skipped: return said.skipped;
    case EntryEvent::Damaged: return entry.blocks == 0 ? said.lengthDiffers : said.damaged;
    case EntryEvent::Missing: return said.missing;
    case EntryEvent::FolderMissing: return said.folderMissing;
    case EntryEvent::CaseDiffers: return said.caseDiffers;
    case EntryEvent::Extra: return entry.folder ? said.extraFolder : said.extra;
    case EntryEvent::Repaired: return entry.throughCopy ? said.repairedThroughCopy : said.repaired;
    case EntryEvent::Created: return said.created;
    case EntryEvent::FolderCreated: return said.folderCreated;
    case EntryEvent::Renamed: return said.renamed;
    case EntryEvent::Deleted: return entry.folder ? said.folderDeleted : said.deleted;
    case EntryEvent::Mismatch: return said.mismatch;
    case EntryEvent::Verified: return said.verified;
  }
  return "";
}

std::string SkipReasonText(const EntryReport& entry, const char* systemText, const Words& words) {
  const EntryWords& said = words.entries;
  const std::string system = systemText != nullptr ? systemText : "";
  switch (entry.skip) {
    case EntrySkip::None: return "";
    case EntrySkip::Link: return said.skipLink.c_str();
    case EntrySkip::NotRegular: return said.skipNotRegular.c_str();
    case EntrySkip::Unreadable: return std::string(StepMessage(entry.step, words)) + (system.empty() ? "" : " " + system);
    case EntrySkip::BadName: return std::string(said.skipBadName) + NameFaultText(entry.nameFault, words);
    case EntrySkip::TooDeep: return said.skipTooDeep.c_str();
    case EntrySkip::BrokenSide: {
      const char* why = said.skipBrokenUnreadable;
      if (entry.brokenReason == SkipReason::Link) why = said.skipLink;
      if (entry.brokenReason == SkipReason::NotRegular) why = said.skipNotRegular;
      return std::string(said.skipBrokenSide) + why;
    }
    case EntrySkip::NotPossibleThere: return std::string(said.skipNotPossibleThere) + NameFaultText(entry.nameFault, words);
    case EntrySkip::NameTaken: return said.skipNameTaken.c_str();
    case EntrySkip::Gone: return said.skipGone.c_str();
    case EntrySkip::NotEmpty: return said.skipNotEmpty.c_str();
    case EntrySkip::OtherFile: return said.skipOtherFile.c_str();
    case EntrySkip::NotSeen: return said.skipNotSeen.c_str();
    case EntrySkip::ShortName: return said.skipShortName.c_str();
  }
  return "";
}
