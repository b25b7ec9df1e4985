// Work beside the dialog: every file and every folder, worked on by a streaming or folder
// operation on a thread of its own while the dialog keeps answering: progress in the status
// bar, the rest of the dialog out of use, and a way to stop. The dialog owns the work from its
// start to the end message.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/outcome.h"
#include "tree/outcome.h"
#include "ui/program_state.h"

// What the worker posts to the dialog: the percentage done has changed (wParam); the
// operation has returned and the thread is about to end.
inline constexpr UINT kWorkProgressMessage = WM_APP + 1;
inline constexpr UINT kWorkEndedMessage = WM_APP + 2;

// Takes Start, the mode radios, the fields and their buttons out of use (remembering how they
// were), shows 0 percent and runs the mode's streaming operation on the texts of its fields
// (mode 1: broken file, output folder; mode 2: valid file, test file, output folder; mode 3:
// broken file, repair file and, or null, the folder for a follow-up); folder: the first is a
// folder, for the folder operations. Once it has begun (1), the work always ends with
// kWorkEndedMessage, also when its thread cannot be started: the end then carries that
// failure. 0 when not even the work's record could be had; that failure has been shown and
// nothing was changed.
int StartBackgroundWork(HWND dialog, WorkMode mode, bool folder, const char* first, const char* second, const char* third);

bool BackgroundWorkRunning();

// The state part shows the new percentage, if it is new.
void ShowBackgroundProgress(WPARAM percent);

// Close, Escape or the close box during the work: asks whether to stop. Yes stops the
// operation at its next block boundary and ends the dialog once the work has ended; No lets it
// go on.
void AskToStopBackgroundWork(HWND dialog);

struct BackgroundOutcome {
  WorkMode mode = WorkMode::BrokenScan;
  bool folder = false;
  Outcome outcome;
  TreeOutcome tree;  // a folder's work: its outcome and its entries
  // The worker thread could not be started (outcome says nothing then), with the system's error.
  bool workerFailed = false;
  uint32_t workerError = 0;
  bool closeAfter = false;  // the user asked to close and said Yes to the stop
};

// On kWorkEndedMessage. While the stop question is open it only notes the end and returns 0;
// the end is taken up once the question is answered. Otherwise it waits for the thread,
// releases the work, gives the controls back as they were and returns 1 with the outcome.
int TakeBackgroundOutcome(HWND dialog, BackgroundOutcome* outcome);

// The dialog is being destroyed under running work: stops it and waits for the thread, so no
// file stays open and no buffer stays allocated.
void AbandonBackgroundWork();
