// The browse button lives in the edit's non-client area: the client area is narrowed by the
// button's width, and the strip this frees is painted and hit-tested here. Everything else
// is the edit's own behaviour, reached through the previous window procedure.
#include "ui/browse_edit.h"

#include <windowsx.h>

#include "ui/report_system_error.h"
#include "ui/program_state.h"
#include "words/words.h"

namespace {

BrowseEditState* StateOf(HWND control) {
  return reinterpret_cast<BrowseEditState*>(GetWindowLongPtrW(control, GWLP_USERDATA));
}

// The pointer of a mouse message: signed 16-bit halves, so that a monitor left of or above
// the primary one gives negative coordinates rather than large positive ones.
POINT PointerOf(LPARAM lParam) { return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

// The button's rectangle in window coordinates, and the pointer moved into them.
RECT ButtonInWindowCoordinates(HWND control, const BrowseEditState* state, POINT* screenPointer) {
  RECT window;
  GetWindowRect(control, &window);
  screenPointer->x -= window.left;
  screenPointer->y -= window.top;
  OffsetRect(&window, -window.left, -window.top);
  BrowseButtonRect(state, &window);
  return window;
}

void Redraw(HWND control, const BrowseEditState* state) {
  RECT window;
  GetWindowRect(control, &window);
  OffsetRect(&window, -window.left, -window.top);
  BrowseButtonRect(state, &window);
  DrawBrowseButton(control, state, &window);
}

}  // namespace

int InstallBrowseEdit(HWND control, uint32_t commandId, int32_t buttonWidth, const wchar_t* caption, int32_t enabled) {
  auto* state = static_cast<BrowseEditState*>(
      HeapAlloc(program.processHeap, HEAP_ZERO_MEMORY | HEAP_NO_SERIALIZE, sizeof(BrowseEditState)));
  if (state == nullptr) {
    // The heap does not always set the last error: the reason is the want of memory.
    ReportSystemError(control, CurrentWords().dialog.allocateBrowseRecord, ERROR_NOT_ENOUGH_MEMORY);
    EndDialog(GetParent(control), 0);
    return 1;
  }
  state->commandId = commandId;
  state->pressed = 0;
  state->buttonWidth = buttonWidth;
  state->caption = caption;
  state->enabled = enabled;
  state->previousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BrowseEditProc)));
  // Setting the procedure sends no message, so the record is in place before it first runs.
  SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  // Recalculates the frame now: WM_NCCALCSIZE measures the borders and narrows the client.
  SetWindowPos(control, nullptr, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return 1;
}

void SetBrowseButtonWidth(HWND control, int32_t buttonWidth) {
  BrowseEditState* state = StateOf(control);
  // A field left a plain edit has no button; an unchanged width needs no new frame.
  if (state == nullptr || state->buttonWidth == buttonWidth) return;
  state->buttonWidth = buttonWidth;
  SetWindowPos(control, nullptr, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

int32_t BrowseButtonEnabled(HWND control) { return StateOf(control)->enabled; }

void SetBrowseButtonEnabled(HWND parent, HWND control, int32_t enabled) {
  StateOf(control)->enabled = enabled;
  RECT r;
  GetWindowRect(control, &r);
  POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
  ScreenToClient(parent, &corners[0]);
  ScreenToClient(parent, &corners[1]);
  r = RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  // The dialog does not clip its children, so this reaches the control's frame as well.
  InvalidateRect(parent, &r, TRUE);
  UpdateWindow(parent);
}

void BrowseButtonRect(const BrowseEditState* state, RECT* rect) {
  rect->right -= static_cast<LONG>(state->rightBorder);
  rect->top += static_cast<LONG>(state->topBorder);
  rect->bottom -= static_cast<LONG>(state->bottomBorder);
  rect->left = rect->right - state->buttonWidth;
  // A wider right frame leaves the strip further right than the left frame suggests.
  if (state->rightBorder > state->leftBorder) {
    OffsetRect(rect, static_cast<int>(state->rightBorder - state->leftBorder), 0);
  }
}

void DrawBrowseButton(HWND control, const BrowseEditState* state, RECT* rect) {
  HDC hdc = GetWindowDC(control);
  if (state->pressed == 1) {
    DrawEdge(hdc, rect, EDGE_RAISED, BF_RECT | BF_ADJUST | BF_FLAT);
    FillRect(hdc, rect, GetSysColorBrush(COLOR_BTNFACE));
    OffsetRect(rect, 1, 1);
  } else {
    DrawEdge(hdc, rect, EDGE_RAISED, BF_RECT | BF_ADJUST);
    FillRect(hdc, rect, GetSysColorBrush(COLOR_BTNFACE));
  }
  SetBkMode(hdc, TRANSPARENT);
  if (state->enabled != 0) {
    DrawTextW(hdc, state->caption, -1, rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  } else {
    DrawStateW(hdc, nullptr, nullptr, reinterpret_cast<LPARAM>(state->caption), 0, rect->left + 1, rect->top - 1, 0, 0,
               DST_TEXT | DSS_DISABLED);
  }
  ReleaseDC(control, hdc);
}

LRESULT CALLBACK BrowseEditProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  BrowseEditState* state = StateOf(control);
  // Still needed after WM_NCDESTROY has freed the record.
  const WNDPROC previousProc = state->previousProc;

  switch (message) {
    case WM_NCDESTROY:
      HeapFree(program.processHeap, 0, state);
      break;

    case WM_NCCALCSIZE: {
      // Either way lParam starts with the proposed window rectangle, which the edit turns
      // into its client rectangle.
      auto* rect = reinterpret_cast<RECT*>(lParam);
      const RECT window = *rect;
      CallWindowProcW(previousProc, control, message, wParam, lParam);
      state->leftBorder = static_cast<uint32_t>(rect->left - window.left);
      state->rightBorder = static_cast<uint32_t>(window.right - rect->right);
      state->topBorder = static_cast<uint32_t>(rect->top - window.top);
      state->bottomBorder = static_cast<uint32_t>(window.bottom - rect->bottom);
      rect->right -= state->buttonWidth;
      return 0;
    }

    case WM_NCPAINT:
      CallWindowProcW(previousProc, control, message, wParam, lParam);
      Redraw(control, state);
      return 0;

    case WM_NCHITTEST: {
      RECT button;
      GetWindowRect(control, &button);
      BrowseButtonRect(state, &button);
      // A frame without sizing: no text cursor over the button, and presses arrive as
      // non-client presses that never move the caret.
      if (PtInRect(&button, PointerOf(lParam))) return HTBORDER;
      break;
    }

    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK: {
      POINT pointer = PointerOf(lParam);
      const RECT button = ButtonInWindowCoordinates(control, state, &pointer);
      if (PtInRect(&button, pointer)) {
        SetCapture(control);
        state->pressed = 1;
        state->tracking = 1;
        Redraw(control, state);
      }
      break;
    }

    case WM_MOUSEMOVE:
      if (state->tracking == 1) {
        POINT pointer = PointerOf(lParam);
        ClientToScreen(control, &pointer);
        const RECT button = ButtonInWindowCoordinates(control, state, &pointer);
        const uint32_t wasPressed = state->pressed;
        state->pressed = PtInRect(&button, pointer) ? 1 : 0;
        // Drawn only when the look changes, not on every move.
        if (state->pressed != wasPressed) Redraw(control, state);
      }
      break;

    case WM_LBUTTONUP:
      if (state->tracking == 1) {
        POINT pointer = PointerOf(lParam);
        ClientToScreen(control, &pointer);
        const RECT button = ButtonInWindowCoordinates(control, state, &pointer);
        // Posted, so the dialog acts on it after the button is drawn normal again.
        if (PtInRect(&button, pointer)) {
          PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(state->commandId & 0xFFFF, 0), 0);
        }
        ReleaseCapture();
        state->pressed = 0;
        state->tracking = 0;
        Redraw(control, state);
      }
      break;
  }
  return CallWindowProcW(previousProc, control, message, wParam, lParam);
}
