// The dialog comes from the test executable's own resources (the program's .rc is linked in),
// through the same template the program makes it from.
#include "tests/ui/harness/main_window.h"

#include <commctrl.h>

#include "tests/ui/harness/gui_driver.h"
#include "ui/control_ids.h"
#include "ui/dialog_template.h"
#include "ui/main_dialog.h"
#include "ui/program_state.h"

namespace gui {

namespace {

std::function<void(HWND)> pendingScript;
HWND modalDialog = nullptr;

// Runs the script once, from the modal loop, when the dialog exists.
void CALLBACK RunScript(HWND, UINT, UINT_PTR timer, DWORD) {
  if (modalDialog == nullptr || !pendingScript) return;
  KillTimer(nullptr, timer);
  auto script = std::move(pendingScript);
  pendingScript = nullptr;
  script(modalDialog);
}

INT_PTR CALLBACK ModalDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) modalDialog = dialog;
  return MainDialogProc(dialog, message, wParam, lParam);
}

}  // namespace

HWND OpenMainDialog() {
  InitCommonControls();
  ResetProgramState();
  TakeStartUpValues();
  HWND dialog = CreateDialogIndirectParamW(program.instance, MainDialogTemplate(program.instance), nullptr, &MainDialogProc, 0);
  if (dialog == nullptr) return nullptr;
  SetForegroundWindow(dialog);
  Pump(80);
  return dialog;
}

void CloseMainDialog(HWND dialog) {
  if (GetCapture() != nullptr) ReleaseCapture();
  DestroyWindow(dialog);
  Pump(10);
}

INT_PTR RunMainDialogModal(const std::function<void(HWND dialog)>& script) {
  InitCommonControls();
  ResetProgramState();
  TakeStartUpValues();
  modalDialog = nullptr;
  pendingScript = script;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, &RunScript);
  const INT_PTR result =
      DialogBoxIndirectParamW(program.instance, MainDialogTemplate(program.instance), nullptr, &ModalDialog, 0);
  KillTimer(nullptr, timer);
  pendingScript = nullptr;
  modalDialog = nullptr;
  return result;
}

}  // namespace gui
