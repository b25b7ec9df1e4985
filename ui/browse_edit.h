// An edit control that carries a small push button inside its frame, at its right end.
// Pressing and releasing the button posts WM_COMMAND with the control's command id (and
// notification code 0) to the parent, which then opens a chooser for the field.
#pragma once

#include <windows.h>

#include <cstdint>

struct BrowseEditState {
  uint32_t commandId;
  uint32_t pressed;   // drawn pushed in; only while tracking
  uint32_t tracking;  // a press that began on the button is held; the control has the capture
  WNDPROC previousProc;
  const wchar_t* caption;  // not copied: must live as long as the control
  int32_t enabled;      // governs the look only
  int32_t buttonWidth;
  uint32_t leftBorder;
  uint32_t rightBorder;
  uint32_t topBorder;
  uint32_t bottomBorder;
};

// Subclasses an existing edit, with the wide calls: an edit subclassed through the narrow ones
// would have its text taken through the ANSI code page. The record comes from program.processHeap; when it cannot be
// allocated the failure is shown and the parent dialog is ended with 0, and the control stays
// a plain edit. Returns 1 in every case.
int InstallBrowseEdit(HWND control, uint32_t commandId, int32_t buttonWidth, const wchar_t* caption, int32_t enabled);

// A new width for the button (the dialog's scale has changed); the frame is measured again and
// the button redrawn at once. Nothing for the same width, or a control that is no BrowseEdit.
void SetBrowseButtonWidth(HWND control, int32_t buttonWidth);

// Whether the button has its enabled look.
int32_t BrowseButtonEnabled(HWND control);

// Switches the button between its enabled and disabled look and repaints it at once.
void SetBrowseButtonEnabled(HWND parent, HWND control, int32_t enabled);

LRESULT CALLBACK BrowseEditProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

// Turns the control's window rectangle (screen or window coordinates) into the button's.
void BrowseButtonRect(const BrowseEditState* state, RECT* rect);

// Paints the button into rect, given in window coordinates; rect is changed.
void DrawBrowseButton(HWND control, const BrowseEditState* state, RECT* rect);
