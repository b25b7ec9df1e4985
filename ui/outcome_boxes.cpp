// The boxes of the outcomes.
#include "ui/outcome_boxes.h"

#include <string>

#include "platform/platform.h"
#include "support/report_system_error.h"
#include "support/step_texts.h"
#include "ui/texts.h"

namespace {

// A stopped scan has written nothing under the final name; a stopped repair may have put
// some blocks in place, which the same repair file finishes.
const char* StopText(WorkMode mode, const Outcome& outcome) {
  switch (mode) {
    case WorkMode::BrokenScan:
    case WorkMode::ValidScan:
      return dialog_text::kScanStopped;
    case WorkMode::Repair:
      return outcome.brokenFileChanged ? dialog_text::kRepairStoppedPartly : dialog_text::kRepairStoppedUntouched;
  }
  return dialog_text::kScanStopped;
}

void ShowStop(HWND dialog, const Outcome& outcome) {
  if (FoundByProgram(outcome.step)) {
    ShowMessageBox(dialog, StepMessage(outcome.step), step_text::kUnforeseen, kBoxIconError);
    return;
  }
  if (outcome.detail == StopDetail::FileChangedWhileRead) {
    ShowMessageBox(dialog, dialog_text::kFileChangedWhileRead, StepMessage(outcome.step), kBoxIconError);
    return;
  }
  SetLastSystemError(outcome.systemError);
  ReportSystemError(dialog, StepMessage(outcome.step));
}

// The task is done, but the new file may not survive a power cut: never "nothing changed".
void ShowMayNotSurvivePowerCut(HWND dialog, const Outcome& outcome) {
  std::string text = dialog_text::kMayNotSurvivePowerCut;
  if (char* reason = DescribeSystemError(outcome.systemError)) {
    text = text + "\n\n" + reason;
    FreeSystemErrorText(reason);
  }
  MessageBoxA(dialog, text.c_str(), step_text::kAttention, MB_OK | MB_ICONWARNING);
}

void ReportToDialog(void* context, const Outcome& outcome) {
  // The operation runs for the dialog; the box belongs to its mode's operation, and a
  // dialog's own operation never stops on request.
  ShowOutcomeBox(static_cast<HWND>(context), WorkMode::BrokenScan, outcome);
}

}  // namespace

void ShowOutcomeBox(HWND dialog, WorkMode mode, const Outcome& outcome) {
  switch (outcome.ending) {
    case Ending::Done:
      if (outcome.outputMayNotSurvivePowerCut) ShowMayNotSurvivePowerCut(dialog, outcome);
      return;
    case Ending::Identical:
      ShowMessageBox(dialog, step_text::kIdentical, step_text::kAttention, kBoxIconInformation);
      return;
    case Ending::Cancelled:
      MessageBoxA(dialog, StopText(mode, outcome), step_text::kAttention, MB_OK | MB_ICONINFORMATION);
      return;
    case Ending::Stopped:
    case Ending::CheckRefused:
      ShowStop(dialog, outcome);
      return;
  }
}

Reporter BoxReporter(HWND dialog) {
  Reporter reporter;
  reporter.report = &ReportToDialog;
  reporter.context = dialog;
  return reporter;
}
