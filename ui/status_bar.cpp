// Texts go to the status bar as SB_SETTEXTW with the default sunken border.
#include "ui/status_bar.h"

#include <windows.h>

#include <commctrl.h>

#include "ui/program_state.h"
#include "ui/window_text.h"

void SetStatus(StatusPart part, const char* text) {
  SendMessageW(program.statusBar, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}
