// The boxes of the outcomes.
#include "ui/outcome_boxes.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/exchange_rules.h"
#include "platform/platform.h"
#include "ui/report_system_error.h"
#include "words/step_texts.h"
#include "words/words.h"
#include "ui/window_text.h"

namespace {

// A stopped scan has written nothing under the final name; a stopped repair may have put
// some blocks in place, which the same repair file finishes.
const char* StopText(WorkMode mode, const Outcome& outcome) {
  switch (mode) {
    case WorkMode::BrokenScan:
    case WorkMode::ValidScan:
      return CurrentWords().dialog.scanStopped;
    case WorkMode::Repair:
      return outcome.brokenFileChanged ? CurrentWords().dialog.repairStoppedPartly
                                       : CurrentWords().dialog.repairStoppedUntouched;
  }
  return CurrentWords().dialog.scanStopped;
}

void ShowStop(HWND dialog, const Outcome& outcome) {
  if (FoundByProgram(outcome.step)) {
    ShowMessageBox(dialog, StepMessage(outcome.step), CurrentWords().shared.unforeseen, kBoxIconError);
    return;
  }
  if (outcome.detail == StopDetail::FileChangedWhileRead) {
    ShowMessageBox(dialog, CurrentWords().dialog.fileChangedWhileRead, StepMessage(outcome.step), kBoxIconError);
    return;
  }
  const char* held = HeldFormat(outcome.systemError, outcome.holder);
  if (held == nullptr) {
    ReportSystemError(dialog, StepMessage(outcome.step), outcome.systemError);
    return;
  }
  // Who holds the file, and what to do, below the system's text.
  std::string text;
  if (char* reason = DescribeSystemError(outcome.systemError)) {
    text = reason;
    FreeSystemErrorText(reason);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  char words[512];
  std::snprintf(words, sizeof words, held, outcome.holder.c_str());
  ShowMessageBox(dialog, (text + "\n\n" + words).c_str(), StepMessage(outcome.step), kBoxIconError);
}

// The task is done, but the new file may not survive a power cut: never "nothing changed".
void ShowMayNotSurvivePowerCut(HWND dialog, const Outcome& outcome) {
  std::string text(CurrentWords().dialog.mayNotSurvivePowerCut);
  if (char* reason = DescribeSystemError(outcome.systemError)) {
    text = text + "\n\n" + reason;
    FreeSystemErrorText(reason);
  }
  ShowBox(dialog, text.c_str(), CurrentWords().shared.attention, MB_OK | MB_ICONWARNING);
}

// At most this many ranges are named; the follow-up holds them all.
constexpr size_t kRangesShown = 5;

// A format with one text, a path of up to 1560 bytes among them, whole.
std::string Formatted(const char* format, const char* text) {
  std::string line(std::strlen(format) + std::strlen(text), '\0');
  line.resize(static_cast<size_t>(std::snprintf(line.data(), line.size() + 1, format, text)));
  return line;
}

// The warning of a repair whose result still differs: where, why, and the way on.
std::string DiffersText(const Outcome& outcome) {
  char head[256];
  std::snprintf(head, sizeof head, CurrentWords().dialog.differsHead, static_cast<unsigned>(outcome.differing.size()));
  std::string text = head;
  for (size_t i = 0; i < outcome.differing.size() && i < kRangesShown; ++i) {
    char range[128];
    std::snprintf(range, sizeof range, CurrentWords().dialog.differsRange,
                  std::to_string(outcome.differing[i].first).c_str(),
                  std::to_string(outcome.differing[i].last).c_str());
    text += std::string("\n") + range;
  }
  if (outcome.differing.size() > kRangesShown) {
    char more[128];
    std::snprintf(more, sizeof more, CurrentWords().dialog.differsMore,
                  static_cast<unsigned>(outcome.differing.size() - kRangesShown));
    text += std::string("\n") + more;
  }
  text += std::string("\n\n") + CurrentWords().dialog.differsWhy + "\n\n" +
          Formatted(CurrentWords().dialog.differsNext, outcome.followUpPath.c_str());
  return text;
}

// A text with one percentage.
std::string WithShare(const char* format, double share) {
  char line[512];
  std::snprintf(line, sizeof line, format, static_cast<unsigned>(SharePercent(share)));
  return line;
}

}  // namespace

std::string DoneNote(WorkMode mode, const Outcome& outcome, bool* warning) {
  *warning = false;
  if (mode == WorkMode::ValidScan) {
    const double share = DifferingShare(outcome.blocks.size(), outcome.validSize, outcome.recordedSize);
    if (share <= kSameVersionShare) return {};
    *warning = true;
    return WithShare(CurrentWords().shared.differsMuch, share);
  }
  if (mode != WorkMode::Repair) return {};
  if (AppliedBefore(outcome) && !outcome.brokenFileChanged) return std::string(CurrentWords().shared.alreadyRepaired);
  const double share = DifferingShare(outcome.blocksWritten, outcome.validSize, outcome.validSize);
  return share > kSameVersionShare ? WithShare(CurrentWords().shared.replacedShare, share) : std::string();
}

void ShowOutcomeBox(HWND dialog, WorkMode mode, const Outcome& outcome) {
  switch (outcome.ending) {
    case Ending::Done:
      if (outcome.outputMayNotSurvivePowerCut) ShowMayNotSurvivePowerCut(dialog, outcome);
      return;
    case Ending::Identical:
      // Every checksum agrees: the repair file of no blocks written proves it or finds more.
      ShowMessageBox(dialog, Formatted(CurrentWords().shared.identicalProof, outcome.outputPath.c_str()).c_str(),
                     CurrentWords().shared.attention, kBoxIconInformation);
      return;
    case Ending::Cancelled:
      ShowBox(dialog, StopText(mode, outcome), CurrentWords().shared.attention, MB_OK | MB_ICONINFORMATION);
      return;
    case Ending::Stopped:
    case Ending::CheckRefused:
      ShowStop(dialog, outcome);
      return;
    case Ending::Differs: {
      // A repair file of an earlier round, applied again: the newest answer is needed.
      std::string text = DiffersText(outcome);
      if (AppliedBefore(outcome)) text = text + "\n\n" + std::string(CurrentWords().shared.alreadyApplied);
      ShowBox(dialog, text.c_str(), CurrentWords().shared.attention, MB_OK | MB_ICONWARNING);
      return;
    }
    case Ending::OtherFile:
      ShowBox(dialog, CurrentWords().shared.otherFile, CurrentWords().shared.attention, MB_OK | MB_ICONWARNING);
      return;
    case Ending::MoreNeeded: {
      // The valid-file scan wrote the request, the repair the larger test file: each is sent back.
      const char* format = mode == WorkMode::ValidScan ? CurrentWords().shared.askedForMore : CurrentWords().shared.largerTestFile;
      ShowBox(dialog, Formatted(format, outcome.outputPath.c_str()).c_str(), CurrentWords().shared.attention,
              MB_OK | MB_ICONINFORMATION);
      return;
    }
  }
}
