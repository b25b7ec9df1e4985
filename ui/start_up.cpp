// The process: the start-up values, the modal dialog, and exit code 0 however it ended.
#include <windows.h>

#include <commctrl.h>

#include "platform/platform.h"
#include "ui/dialog_template.h"
#include "ui/main_dialog.h"
#include "ui/program_state.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Registers the status bar class that the dialog template names.
  InitCommonControls();
  ExposeCloudPlaceholders();
  TakeStartUpValues();
  // The wide dialog functions keep the template's UTF-16 texts as they are; the others would
  // take every control's text through the ANSI code page. A template that cannot be had makes
  // no dialog, as a dialog the system cannot create.
  if (const DLGTEMPLATE* dialog = MainDialogTemplate(program.instance)) {
    DialogBoxIndirectParamW(program.instance, dialog, nullptr, &MainDialogProc, 0);
  }
  ExitProcess(0);
}
