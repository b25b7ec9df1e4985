// The worker thread of the dialog's work and what the dialog does around it. A streaming operation is one long loop over the file's blocks with
// no point where it could hand control back and be resumed, so it cannot be cut into slices
// between message-loop turns; it runs on a thread of its own instead. That thread touches no
// window: it posts its progress and its end to the dialog, and everything it shares with the
// dialog is this record and the stop flag.
#include "ui/background_work.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "core/test_file.h"
#include "stream/operations.h"
#include "tree/operations.h"
#include "support/path_buffer.h"
#include "ui/report_system_error.h"
#include "words/step_texts.h"
#include "ui/browse_edit.h"
#include "ui/control_ids.h"
#include "ui/dialog_services.h"
#include "ui/program_state.h"
#include "ui/status_bar.h"
#include "words/words.h"
#include "ui/window_text.h"

namespace {

// At most four updates a second: enough to see it move, too few to cost anything.
constexpr ULONGLONG kProgressIntervalMs = 250;

// The controls that would start something else, in the order of the dialog.
constexpr int kHeldControls[] = {IDC_MODE_BROKEN_SCAN, IDC_MODE_VALID_SCAN, IDC_MODE_REPAIR, IDC_START,
                                 IDC_BROKEN_FILE,      IDC_VALID_FILE,      IDC_TEST_FILE,   IDC_REPAIR_BROKEN_FILE,
                                 IDC_REPAIR_FILE,      IDC_OUTPUT_FOLDER};
constexpr int kControlCount = sizeof kHeldControls / sizeof kHeldControls[0];

bool IsField(int id) { return id >= IDC_BROKEN_FILE && id <= IDC_OUTPUT_FOLDER; }

}  // namespace

struct BackgroundWork {
  HWND dialog = nullptr;
  WorkMode mode = WorkMode::BrokenScan;
  bool folder = false;
  // A field's whole text: up to 520 units, which the operation refuses as too long.
  char paths[3][kPathBufferSize] = {};
  std::atomic<bool> stop{false};
  HANDLE thread = nullptr;
  // Written by the worker before it posts its end; read by the dialog after the thread ended.
  Outcome outcome;
  TreeOutcome tree;
  // Or the thread could not be started, for this reason.
  bool workerFailed = false;
  uint32_t workerError = 0;

  // The worker's own: what it last posted.
  uint32_t postedPercent = 0;
  ULONGLONG postedAt = 0;

  // The dialog's own.
  uint32_t shownPercent = 0;
  bool asking = false;
  bool endedWhileAsking = false;
  bool closeAfter = false;
  BOOL controlEnabled[kControlCount] = {};
  int32_t buttonEnabled[kControlCount] = {};
  HWND focus = nullptr;
};

namespace {

// On the worker thread.
void Progress(void* context, uint64_t done, uint64_t total) {
  BackgroundWork* work = static_cast<BackgroundWork*>(context);
  const uint32_t percent = total == 0 || done >= total ? 100 : static_cast<uint32_t>(done * 100 / total);
  // A valid-file scan learns how many blocks it will read a second time only after its first
  // pass, and its total grows then: the percentage shown only ever rises.
  if (percent <= work->postedPercent) return;
  const ULONGLONG now = GetTickCount64();
  if (now - work->postedAt < kProgressIntervalMs) return;
  work->postedPercent = percent;
  work->postedAt = now;
  PostMessageW(work->dialog, kWorkProgressMessage, percent, 0);
}

// Below 4 GiB the test file the dialog has always written; from 4 GiB on, where the plain form
// is large, the compact one, at its default size.
TestFileChoice DialogTestFileChoice() {
  TestFileChoice choice;
  choice.plainUpTo = TestFileLength(kLargeFormSize - 1);
  return choice;
}

DWORD WINAPI RunWork(void* parameter) {
  BackgroundWork* work = static_cast<BackgroundWork*>(parameter);
  StreamControl control;
  control.progress = &Progress;
  control.context = work;
  control.stop = &work->stop;
  if (work->folder) {
    switch (work->mode) {
      // A folder's test file goes compact above 1 MiB, as varnell-cli's does.
      case WorkMode::BrokenScan: {
        TestFileChoice choice;
        choice.plainUpTo = kPlainTestFileUpTo;
        work->tree = ScanBrokenFolder(work->paths[0], work->paths[1], control, choice);
        break;
      }
      case WorkMode::ValidScan: work->tree = ScanValidFolder(work->paths[0], work->paths[1], work->paths[2], control); break;
      // The dialog leaves extra entries where they are and lists them; a follow-up goes where a
      // file's does.
      case WorkMode::Repair: {
        FolderRepairOptions options;
        options.followUpFolder = work->paths[2][0] != '\0' ? work->paths[2] : nullptr;
        work->tree = RepairBrokenFolder(work->paths[0], work->paths[1], options, control);
        break;
      }
    }
    work->outcome = work->tree.outcome;
    PostMessageW(work->dialog, kWorkEndedMessage, 0, 0);
    return 0;
  }
  switch (work->mode) {
    case WorkMode::BrokenScan:
      work->outcome = StreamScanBrokenFile(work->paths[0], work->paths[1], control, DialogTestFileChoice());
      break;
    case WorkMode::ValidScan:
      work->outcome = StreamScanValidFile(work->paths[0], work->paths[1], work->paths[2], control);
      break;
    case WorkMode::Repair: {
      RepairOptions options;
      options.followUpFolder = work->paths[2][0] != '\0' ? work->paths[2] : nullptr;
      work->outcome = StreamRepairBrokenFile(work->paths[0], work->paths[1], options, control);
      break;
    }
  }
  PostMessageW(work->dialog, kWorkEndedMessage, 0, 0);
  return 0;
}

HANDLE StartWorker(BackgroundWork* work) {
  HANDLE thread = CreateSuspendedThread(&RunWork, work);
  if (thread == nullptr) return nullptr;
  // Below the dialog's thread: on a busy machine the dialog answers first, and the work takes
  // what is left.
  SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
  ResumeThread(thread);
  return thread;
}

void HoldControls(HWND dialog, BackgroundWork& work) {
  // A disabled control keeps no focus and leaves the keyboard with nobody; Close stays in
  // use, so Escape and Enter go there.
  work.focus = GetFocus();
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_CLOSE)), TRUE);
  for (int i = 0; i < kControlCount; ++i) {
    HWND control = GetDlgItem(dialog, kHeldControls[i]);
    work.controlEnabled[i] = IsWindowEnabled(control);
    EnableWindow(control, FALSE);
    if (IsField(kHeldControls[i])) {
      work.buttonEnabled[i] = BrowseButtonEnabled(control);
      SetBrowseButtonEnabled(dialog, control, 0);
    }
  }
}

void ShowPercent(uint32_t percent) {
  char text[32];
  std::snprintf(text, sizeof text, CurrentWords().dialog.workingPercent, percent);
  SetStatus(kStatePart, text);
}

void GiveControlsBack(HWND dialog, const BackgroundWork& work) {
  for (int i = 0; i < kControlCount; ++i) {
    HWND control = GetDlgItem(dialog, kHeldControls[i]);
    EnableWindow(control, work.controlEnabled[i]);
    if (IsField(kHeldControls[i])) SetBrowseButtonEnabled(dialog, control, work.buttonEnabled[i]);
  }
  // Only in the foreground: after minutes of work the user may be elsewhere, and the flash
  // that follows is how the dialog asks for attention there.
  if (GetForegroundWindow() == dialog && work.focus != nullptr && IsChild(dialog, work.focus) &&
      IsWindowEnabled(work.focus)) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(work.focus), TRUE);
  }
}

BackgroundWork* NewWorkRecord() {
  void* memory = AllocateWorkRecord(sizeof(BackgroundWork));
  return memory != nullptr ? new (memory) BackgroundWork() : nullptr;
}

void DeleteWorkRecord(BackgroundWork* work) {
  work->~BackgroundWork();
  FreeWorkRecord(work);
}

}  // namespace

int StartBackgroundWork(HWND dialog, WorkMode mode, bool folder, const char* first, const char* second, const char* third) {
  BackgroundWork* work = NewWorkRecord();
  if (work == nullptr) {
    ReportSystemError(dialog, CurrentWords().dialog.startWorker, ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  work->dialog = dialog;
  work->mode = mode;
  work->folder = folder;
  const char* paths[3] = {first, second, third};
  for (int i = 0; i < 3; ++i) {
    if (paths[i] != nullptr) std::strncpy(work->paths[i], paths[i], kPathBufferSize - 1);
  }
  program.backgroundWork = work;
  HoldControls(dialog, *work);
  ShowPercent(0);
  work->postedAt = GetTickCount64();
  work->thread = StartWorker(work);
  if (work->thread == nullptr) {
    work->workerFailed = true;
    work->workerError = GetLastError();
    PostMessageW(dialog, kWorkEndedMessage, 0, 0);
  }
  return 1;
}

bool BackgroundWorkRunning() { return program.backgroundWork != nullptr; }

void ShowBackgroundProgress(WPARAM percent) {
  BackgroundWork* work = program.backgroundWork;
  if (work == nullptr || percent == work->shownPercent) return;
  work->shownPercent = static_cast<uint32_t>(percent);
  ShowPercent(work->shownPercent);
}

void AskToStopBackgroundWork(HWND dialog) {
  BackgroundWork* work = program.backgroundWork;
  // One question at a time, and none once the stop is on its way.
  if (work == nullptr || work->asking || work->closeAfter) return;
  work->asking = true;
  const int answer =
      ShowBox(dialog, CurrentWords().dialog.askStop, CurrentWords().shared.attention, MB_YESNO | MB_ICONQUESTION);
  // A dialog destroyed meanwhile has abandoned the work.
  if (program.backgroundWork != work) return;
  work->asking = false;
  if (answer == IDYES) {
    work->stop.store(true);
    work->closeAfter = true;
  }
  // The end that came while the question was open is taken up now, through the same message.
  if (work->endedWhileAsking) PostMessageW(dialog, kWorkEndedMessage, 0, 0);
}

int TakeBackgroundOutcome(HWND dialog, BackgroundOutcome* outcome) {
  BackgroundWork* work = program.backgroundWork;
  if (work == nullptr) return 0;
  if (work->asking) {
    work->endedWhileAsking = true;
    return 0;
  }
  // The thread has posted its last message and only returns now.
  if (work->thread != nullptr) {
    WaitForSingleObject(work->thread, INFINITE);
    CloseHandle(work->thread);
  }
  program.backgroundWork = nullptr;
  GiveControlsBack(dialog, *work);
  outcome->mode = work->mode;
  outcome->folder = work->folder;
  outcome->outcome = std::move(work->outcome);
  outcome->tree = std::move(work->tree);
  outcome->workerFailed = work->workerFailed;
  outcome->workerError = work->workerError;
  outcome->closeAfter = work->closeAfter;
  DeleteWorkRecord(work);
  return 1;
}

void AbandonBackgroundWork() {
  BackgroundWork* work = program.backgroundWork;
  if (work == nullptr) return;
  work->stop.store(true);
  // The worker never waits for the dialog, so waiting here without messages cannot hang.
  if (work->thread != nullptr) {
    WaitForSingleObject(work->thread, INFINITE);
    CloseHandle(work->thread);
  }
  program.backgroundWork = nullptr;
  DeleteWorkRecord(work);
}
