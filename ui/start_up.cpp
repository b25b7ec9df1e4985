// The process: the start-up values, the modal dialog, and exit code 0 however it ended.
#include <windows.h>

#include <commctrl.h>

#include "platform/platform.h"
#include "ui/control_ids.h"
#include "ui/main_dialog.h"
#include "ui/program_state.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Registers the status bar class that the dialog template names.
  InitCommonControls();
  ExposeCloudPlaceholders();
  TakeStartUpValues();
  DialogBoxParamA(program.instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, &MainDialogProc, 0);
  ExitProcess(0);
}
