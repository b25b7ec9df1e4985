// A failed step goes through the same report as the dialog's own operations, with the error
// code the operation kept; conditions (identical copies among them) come with their own text,
// caption and icon.
#include "ui/stream_result_boxes.h"

#include "engine/messages.h"
#include "platform/platform.h"
#include "support/report_system_error.h"
#include "ui/ui_texts.h"

namespace {

// A stopped scan has written nothing under the final name; a stopped repair may have put
// some blocks in place, which the same repair file finishes.
const char* StopText(uint32_t workMode, const StreamResult& result) {
  if (workMode != 3) return ui_text::kScanStopped;
  return result.brokenFileChanged ? ui_text::kRepairStoppedPartly : ui_text::kRepairStoppedUntouched;
}

}  // namespace

int PresentStreamResult(HWND dialog, uint32_t workMode, const StreamResult& result) {
  switch (result.outcome) {
    case StreamOutcome::Done:
      return 1;
    case StreamOutcome::Cancelled:
      MessageBoxA(dialog, StopText(workMode, result), message::kAttention, MB_OK | MB_ICONINFORMATION);
      return 0;
    case StreamOutcome::Identical:
    case StreamOutcome::Stopped:
    case StreamOutcome::CheckRefused:
      break;
  }
  if (result.caption == nullptr) {
    SetLastSystemError(result.systemError);
    ReportSystemError(dialog, result.message);
  } else {
    ShowMessageBox(dialog, result.message, result.caption, result.boxType);
  }
  return 0;
}
