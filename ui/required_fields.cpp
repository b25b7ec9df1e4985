// The flag is program.highlightSlots: set while the box is up, so that every repaint of a
// flagged edit in that time (the box moved over it, say) comes out red again.
#include "ui/required_fields.h"

#include "ui/program_state.h"
#include "words/words.h"
#include "ui/window_text.h"

namespace {
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// The edit's whole window, frame and browse button included, in the dialog's coordinates.
RECT WindowRectInDialog(HWND dialog, HWND edit) {
  RECT r;
  GetWindowRect(edit, &r);
  POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
  ScreenToClient(dialog, &corners[0]);
  ScreenToClient(dialog, &corners[1]);
  return RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}
}  // namespace

int CheckRequiredFields(HWND dialog, HWND first, HWND second, HWND third) {
  const HWND fields[3] = {first, second, third};
  RECT flagged[3] = {};
  unsigned mask = 0;
  for (int i = 0; i < 3; ++i) {
    // Only a text of length 0 is empty: a space is something the user typed.
    if (fields[i] == nullptr || HasText(fields[i])) continue;
    program.highlightSlots[i] = fields[i];
    flagged[i] = WindowRectInDialog(dialog, fields[i]);
    InvalidateRect(dialog, &flagged[i], TRUE);
    UpdateWindow(dialog);
    mask |= 1u << i;
  }
  if (mask == 0) return 1;

  ShowBox(dialog, CurrentWords().dialog.fillAllFields, CurrentWords().dialog.attentionExclaimed, MB_ICONERROR);

  for (int i = 0; i < 3; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    InvalidateRect(dialog, &flagged[i], TRUE);
    // Cleared between the invalidation and the update, so the repaint is the normal one.
    program.highlightSlots[i] = nullptr;
    UpdateWindow(dialog);
  }
  return 0;
}

LRESULT RequiredFieldColours(HDC dc, HWND edit) {
  for (HWND slot : program.highlightSlots) {
    if (slot == nullptr || slot != edit) continue;
    SetBkColor(dc, kRed);
    SetTextColor(dc, kWhite);
    return reinterpret_cast<LRESULT>(program.redBrush);
  }
  return 0;
}
