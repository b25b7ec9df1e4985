// Reading and checking a folder repair file's records.
#include "tree/repair_plan.h"

#include <algorithm>
#include <new>

#include "stream/steps.h"

namespace {

Outcome Malformed() { return Refused(Step::CheckFolderRepairFile); }

Outcome BadName(std::string_view path, NameFault why, std::string* badPath, NameFault* fault) {
  *badPath = std::string(path);
  *fault = why;
  return Refused(Step::CheckRepairFileName);
}

bool IsExtra(FolderAction action) { return action == FolderAction::ExtraFile || action == FolderAction::ExtraFolder; }

}  // namespace

Outcome ReadRepairPlan(FileReader& reader, const FolderRepairHeader& header, const NameRules& rules, RepairPlan* plan,
                       std::string* badPath, NameFault* fault) {
  try {
    // Every record has at least 4 bytes: no count can reserve memory the file does not back.
    if (header.records > reader.Left() / 4) return Malformed();
    plan->changes.reserve(header.records);
    FolderRepairRecord record;
    TreePath parsed;
    for (uint64_t i = 0; i < header.records; ++i) {
      const FolderFileVerdict verdict = ReadFolderRepairRecord(reader, header, &record);
      if (verdict == FolderFileVerdict::ReadFailed) return Stopped(Step::ReadRepair, reader.failure());
      if (verdict == FolderFileVerdict::Malformed) return Malformed();
      const NameFault pathFault = ParseTreePath(record.path, rules, &parsed);
      if (pathFault != NameFault::None) return BadName(record.path, pathFault, badPath, fault);
      PlannedChange change;
      change.action = record.action;
      change.pathAt = plan->text.size();
      change.pathLength = static_cast<uint16_t>(record.path.size());
      plan->text += record.path;
      if (record.action == FolderAction::Rename) {
        const NameFault oldFault = CheckComponent(record.oldName, rules);
        if (oldFault != NameFault::None) return BadName(record.oldName, oldFault, badPath, fault);
        // A rename only ever changes letter case, within the entry's own folder.
        if (CaseKey(record.oldName) != CaseKey(parsed.components.back())) return Malformed();
        change.oldNameAt = plan->text.size();
        change.oldNameLength = static_cast<uint16_t>(record.oldName.size());
        plan->text += record.oldName;
      }
      change.validSize = record.validSize;
      change.fingerprint = record.fingerprint;
      change.blockCount = record.blockCount;
      change.blockNumbersAt = record.blockNumbersAt;
      change.dataAt = record.dataAt;
      change.stamped = record.stamped;
      change.stamp = record.stamp;
      change.validKind = record.validKind;
      change.brokenReason = record.brokenReason;
      if (record.action == FolderAction::CheckedPatch) {
        change.checked = static_cast<uint32_t>(plan->checked.size());
        plan->checked.push_back(CheckedPatch{record.origin, record.valuesAt, record.samplesAt, record.regionsAt});
      }
      plan->changes.push_back(change);
    }
    if (reader.Left() != 0) return Malformed();

    // The entries the repair makes or changes, and apart from them the extra ones it may
    // delete: neither list names a path twice.
    for (const bool extra : {false, true}) {
      std::vector<std::string_view> paths;
      for (size_t i = 0; i < plan->changes.size(); ++i) {
        if (IsExtra(plan->changes[i].action) == extra) paths.push_back(plan->Path(i));
      }
      std::vector<std::string_view> sorted = paths;
      std::sort(sorted.begin(), sorted.end());
      if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return Malformed();
      if (!extra && rules.ignoresCase) {
        const int64_t clash = FindCaseClash(paths);
        if (clash >= 0) return BadName(paths[static_cast<size_t>(clash)], NameFault::CaseClash, badPath, fault);
      }
    }
  } catch (const std::bad_alloc&) {
    return Stopped(Step::AllocateRepairPlan, ErrorOf(SystemErrorKind::NotEnoughMemory));
  }
  return DoneOutcome();
}
