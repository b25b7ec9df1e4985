// Texts go to the status bar as SB_SETTEXTA with the default sunken border.
#include "ui/status_bar.h"

#include <windows.h>

#include <commctrl.h>

#include "ui/program_state.h"

void SetStatus(StatusPart part, const char* text) {
  SendMessageA(program.statusBar, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text));
}
