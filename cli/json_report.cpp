// Building the JSON object from an outcome, with nlohmann's JSON library.
#include "cli/json_report.h"

#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "cli/reasons.h"
#include "core/exchange_rules.h"
#include "platform/platform.h"
#include "words/entry_texts.h"
#include "words/step_texts.h"

namespace {

// Fields in the order they are added, which the manual page follows.
using json = nlohmann::ordered_json;

const char* CommandName(Command command) {
  switch (command) {
    case Command::ScanBroken: return "scan-broken";
    case Command::ScanValid: return "scan-valid";
    case Command::Repair: return "repair";
    case Command::Verify: return "verify";
    case Command::Help:
    case Command::Version: break;
  }
  return "";
}

const char* EndingName(Ending ending) {
  switch (ending) {
    case Ending::Done: return "done";
    case Ending::Identical: return "identical";
    case Ending::Stopped: return "stopped";
    case Ending::CheckRefused: return "check_refused";
    case Ending::Cancelled: return "cancelled";
    case Ending::Differs: return "differs";
    case Ending::OtherFile: return "other_file";
    case Ending::MoreNeeded: return "more_needed";
  }
  return "";
}

const char* VerificationName(Verification verification) {
  switch (verification) {
    case Verification::NoFingerprint: return "not_checked";
    case Verification::Skipped: return "skipped";
    case Verification::Verified: return "verified";
    case Verification::Differs: return "differs";
  }
  return "";
}

json Written(const char* kind, const std::string& path, uint64_t bytes) {
  return json{{"kind", kind}, {"path", path}, {"bytes", bytes}};
}

const char* EventName(EntryEvent event) {
  switch (event) {
    case EntryEvent::Skipped: return "skipped";
    case EntryEvent::Damaged: return "damaged";
    case EntryEvent::Missing: return "missing";
    case EntryEvent::FolderMissing: return "folder_missing";
    case EntryEvent::CaseDiffers: return "case_differs";
    case EntryEvent::Extra: return "extra";
    case EntryEvent::Repaired: return "repaired";
    case EntryEvent::Created: return "created";
    case EntryEvent::FolderCreated: return "folder_created";
    case EntryEvent::Renamed: return "renamed";
    case EntryEvent::Deleted: return "deleted";
    case EntryEvent::Mismatch: return "differs";
    case EntryEvent::Verified: return "verified";
  }
  return "";
}

// The system's description of an error code, without its line break.
std::string SystemMessage(uint32_t code) {
  char* text = code != 0 ? DescribeSystemError(code) : nullptr;
  std::string description = text != nullptr ? text : "";
  if (text != nullptr) FreeSystemErrorText(text);
  while (!description.empty() && (description.back() == '\n' || description.back() == '\r')) description.pop_back();
  return description;
}

// A file another program held: its name, or null where the system could not tell.
void AddHolder(json& item, uint32_t systemError, const std::string& holder) {
  if (IsHeldByAnotherProgram(systemError)) item["held_by"] = holder.empty() ? json(nullptr) : json(holder);
}

// Where an operation stopped: the step's words and the system's.
void AddStop(json& report, const Outcome& outcome) {
  report["message"] = StepMessage(outcome.step);
  report["system_error"] = outcome.systemError;
  report["system_message"] = SystemMessage(outcome.systemError);
  AddHolder(report, outcome.systemError, outcome.holder);
}

// Invalid UTF-8 (a path that is not) is replaced rather than refused.
std::string Dump(const json& report) { return report.dump(-1, ' ', false, json::error_handler_t::replace); }

// Why the run did not simply end done, in the code a script compares; nothing when it did.
void AddReasonCode(json& report, const Outcome& outcome, int status) {
  const Reason why = OutcomeReason(outcome, status);
  if (why.code != nullptr) report["reason_code"] = why.code;
}

}  // namespace

std::string JsonReport(const CliRequest& request, const Outcome& outcome, int status) {
  json report = {{"command", CommandName(request.command)}, {"outcome", EndingName(outcome.ending)}, {"exit_status", status}};
  AddReasonCode(report, outcome, status);
  json written = json::array();
  if (!outcome.outputPath.empty()) {
    written.push_back(Written(request.command == Command::ScanBroken ? "test_file" : "repair_file", outcome.outputPath,
                              outcome.outputBytes));
  }
  if (!outcome.followUpPath.empty()) written.push_back(Written("follow_up", outcome.followUpPath, outcome.followUpBytes));
  report["files_written"] = written;
  if (request.command != Command::ScanBroken) {
    if (outcome.validSize != 0) report["valid_size"] = outcome.validSize;
    report["fingerprint"] = outcome.fingerprinted ? json(Hash128Hex(outcome.fingerprint)) : json(nullptr);
  }
  if (request.command == Command::ScanValid || request.command == Command::Repair) report["blocks"] = outcome.blocks;
  // How much differs, which a script may weigh as a person reads the warning: a copy seldom
  // differs in more than a quarter.
  if (request.command == Command::ScanValid && outcome.validSize != 0) {
    report["differing_percent"] = SharePercent(DifferingShare(outcome.blocks.size(), outcome.validSize, outcome.recordedSize));
  }
  if (request.command == Command::Repair) report["blocks_written"] = outcome.blocksWritten;
  if (request.command == Command::Repair || request.command == Command::Verify) {
    report["verification"] = VerificationName(outcome.verification);
    json ranges = json::array();
    for (const ByteRange& range : outcome.differing) ranges.push_back({{"first", range.first}, {"last", range.last}});
    report["differing"] = ranges;
  }
  if (request.command == Command::Repair) report["broken_file_changed"] = outcome.brokenFileChanged;
  const bool stopped = outcome.ending == Ending::Stopped ||
                       (outcome.ending == Ending::CheckRefused && outcome.check.finding == CheckFinding::None);
  if (stopped) {
    AddStop(report, outcome);
  } else if (outcome.ending == Ending::CheckRefused) {
    report["message"] = CheckRefusalLine(outcome.check);
  } else if (outcome.ending == Ending::OtherFile) {
    report["message"] = std::string(CurrentWords().shared.otherFile) + " " + CheckRefusalLine(outcome.check);
  }
  return Dump(report);
}

std::string JsonFolderReport(const CliRequest& request, const TreeOutcome& result, int status) {
  const Outcome& outcome = result.outcome;
  json report = {{"command", CommandName(request.command)},
                 {"target", "folder"},
                 {"outcome", EndingName(outcome.ending)},
                 {"exit_status", status}};
  AddReasonCode(report, outcome, status);
  json written = json::array();
  if (!outcome.outputPath.empty()) {
    written.push_back(Written(request.command == Command::ScanBroken ? "test_file" : "repair_file", outcome.outputPath,
                              outcome.outputBytes));
  }
  if (!outcome.followUpPath.empty()) written.push_back(Written("follow_up", outcome.followUpPath, outcome.followUpBytes));
  report["files_written"] = written;
  if (!result.removedAnswer.empty()) report["repair_file_removed"] = result.removedAnswer;
  report["files"] = result.files;
  report["folders"] = result.folders;
  if (request.command != Command::Repair) report["fetched"] = result.fetched;
  // Whether the repair wrote anything in the folder: blocks, lengths, times, new entries.
  if (request.command == Command::Repair) report["broken_file_changed"] = outcome.brokenFileChanged;
  json entries = json::array();
  for (const EntryReport& entry : result.entries) {
    // Paths of entries are UTF-8 already, as the folder files carry them.
    json item = {{"path", entry.path}, {"event", EventName(entry.event)}, {"folder", entry.folder}};
    if (entry.event == EntryEvent::Damaged || entry.event == EntryEvent::Repaired) item["blocks"] = entry.blocks;
    if (entry.throughCopy) item["through_copy"] = true;
    if (entry.event == EntryEvent::Skipped) {
      if (entry.skip == EntrySkip::Unreadable) {
        item["reason"] = StepMessage(entry.step, kRussian);
        item["reason_code"] = EntryReason(entry).code;
        item["system_error"] = entry.systemError;
        item["system_message"] = SystemMessage(entry.systemError);
        AddHolder(item, entry.systemError, entry.holder);
        if (!entry.kept.empty()) item["kept_as"] = entry.kept;
      } else {
        item["reason"] = SkipReasonText(entry, nullptr, kRussian);
        item["reason_code"] = EntryReason(entry).code;
      }
    }
    entries.push_back(item);
  }
  report["entries"] = entries;
  if (outcome.ending == Ending::Stopped || outcome.ending == Ending::CheckRefused) {
    AddStop(report, outcome);
    if (!result.stoppedAt.empty()) report["stopped_at"] = result.stoppedAt;
  }
  return Dump(report);
}

std::string JsonUsageReport(const std::string& problem, int status) {
  return Dump(json{{"outcome", "usage"}, {"exit_status", status}, {"message", problem}});
}
