// Taking a dropped path into the field under the drop.
#include "ui/dropped_paths.h"

#include <shellapi.h>

#include <string>

#include "support/path_buffer.h"
#include "support/strip_last_component.h"
#include "ui/control_ids.h"
#include "ui/program_state.h"
#include "ui/window_text.h"

namespace {

struct DropTarget {
  HWND field;
  int modeRadio;  // the mode the field belongs to; 0: the output folder, in mode 1 or 2
};

// The field whose rectangle holds the screen point, or a null field.
DropTarget TargetAt(POINT screen) {
  const DropTarget targets[] = {
      {program.brokenFileEdit, IDC_MODE_BROKEN_SCAN},  {program.validFileEdit, IDC_MODE_VALID_SCAN},
      {program.testFileEdit, IDC_MODE_VALID_SCAN},     {program.repairBrokenFileEdit, IDC_MODE_REPAIR},
      {program.repairFileEdit, IDC_MODE_REPAIR},       {program.outputFolderEdit, 0},
  };
  for (const DropTarget& target : targets) {
    RECT area;
    if (GetWindowRect(target.field, &area) && PtInRect(&area, screen)) return target;
  }
  return DropTarget{nullptr, 0};
}

}  // namespace

void TakeDroppedPath(HWND dialog, HDROP drop) {
  POINT point;
  wchar_t wide[kFieldUnits] = {};
  const bool inside = DragQueryPoint(drop, &point) != 0;
  // A path the field cannot hold whole is not taken, rather than cut to another name.
  const UINT units = DragQueryFileW(drop, 0, nullptr, 0);
  const bool fits = units > 0 && units < kFieldUnits && DragQueryFileW(drop, 0, wide, kFieldUnits) == units;
  DragFinish(drop);
  if (!inside || !fits) return;
  ClientToScreen(dialog, &point);
  const DropTarget target = TargetAt(point);
  if (target.field == nullptr) return;

  int radio = target.modeRadio;
  if (radio == 0) radio = program.workMode == WorkMode::Repair ? IDC_MODE_BROKEN_SCAN : 0;
  // Through the radio's own command, so that the mode changes exactly as a click changes it.
  if (radio != 0 && static_cast<WorkMode>(radio - IDC_MODE_BROKEN_SCAN + 1) != program.workMode) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(radio, 0), 0);
  }
  std::string path = Utf8(wide, units);
  SetText(target.field, path.c_str());
  // As the chooser does: the broken file of mode 1 and the valid file fill an empty output
  // folder with their own folder.
  const bool fillsOutput = target.field == program.brokenFileEdit || target.field == program.validFileEdit;
  if (fillsOutput && !HasText(program.outputFolderEdit)) {
    StripLastComponent(path.data(), static_cast<uint32_t>(path.size()));
    SetText(program.outputFolderEdit, path.c_str());
  }
}
