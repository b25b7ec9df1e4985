// The dialog procedure: the mode switch, Start with its status texts, wait cursor and
// completion signals, the routing of the browse commands, of dropped paths and of the fields'
// colours, and the start and end of the work.
#include "ui/main_dialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include <initializer_list>
#include <string>

#include "support/path_buffer.h"
#include "ui/report_system_error.h"
#include "words/step_texts.h"
#include "ui/browse_edit.h"
#include "ui/choosers.h"
#include "ui/control_ids.h"
#include "ui/dialog_services.h"
#include "ui/dropped_paths.h"
#include "ui/folder_boxes.h"
#include "ui/background_work.h"
#include "ui/outcome_boxes.h"
#include "ui/program_state.h"
#include "ui/required_fields.h"
#include "ui/status_bar.h"
#include "words/words.h"
#include "ui/window_text.h"

namespace {

// The two sizes the dialog gives itself, in dialog units, so that they grow with the template's
// font at every scale as the rest of the layout does: 275 and 18 pixels at 96 dots per inch.
constexpr int kModePartUnits = 183;
constexpr int kBrowseButtonUnits = 12;
constexpr COLORREF kRed = RGB(255, 0, 0);

// A field's whole text in UTF-8. A field holds up to 520 units, one more than a path may have:
// such a text is read whole and the operation refuses it as too long, rather than cut to a
// different name.
struct FieldText {
  explicit FieldText(HWND field) : value(WindowText(field)), text(value.c_str()) {}
  std::string value;
  const char* text;
};

void FetchFieldHandles(HWND dialog) {
  program.modeBrokenScanRadio = GetDlgItem(dialog, IDC_MODE_BROKEN_SCAN);
  program.brokenFileEdit = GetDlgItem(dialog, IDC_BROKEN_FILE);
  program.validFileEdit = GetDlgItem(dialog, IDC_VALID_FILE);
  program.testFileEdit = GetDlgItem(dialog, IDC_TEST_FILE);
  program.repairBrokenFileEdit = GetDlgItem(dialog, IDC_REPAIR_BROKEN_FILE);
  program.repairFileEdit = GetDlgItem(dialog, IDC_REPAIR_FILE);
  program.outputFolderEdit = GetDlgItem(dialog, IDC_OUTPUT_FOLDER);
  program.groupBrokenScan = GetDlgItem(dialog, IDC_GROUP_BROKEN_SCAN);
  program.groupValidScan = GetDlgItem(dialog, IDC_GROUP_VALID_SCAN);
  program.groupRepair = GetDlgItem(dialog, IDC_GROUP_REPAIR);
  program.labelBrokenFile = GetDlgItem(dialog, IDC_LABEL_BROKEN_FILE);
  program.labelValidFile = GetDlgItem(dialog, IDC_LABEL_VALID_FILE);
  program.labelTestFile = GetDlgItem(dialog, IDC_LABEL_TEST_FILE);
  program.labelRepairBrokenFile = GetDlgItem(dialog, IDC_LABEL_REPAIR_BROKEN_FILE);
  program.labelRepairFile = GetDlgItem(dialog, IDC_LABEL_REPAIR_FILE);
  program.labelOutputFolder = GetDlgItem(dialog, IDC_LABEL_OUTPUT_FOLDER);
  program.statusBar = GetDlgItem(dialog, IDC_STATUS_BAR);
}

// The controls' words from the table in use; the template holds the Russian ones.
void PutControlWords(HWND dialog, const WindowWords& words) {
  const struct {
    int id;
    const char* text;
  } controls[] = {
      {IDC_MODE_BROKEN_SCAN, words.modeBrokenScan},
      {IDC_GROUP_BROKEN_SCAN, words.groupBrokenScan},
      {IDC_LABEL_BROKEN_FILE, words.brokenFile},
      {IDC_MODE_VALID_SCAN, words.modeValidScan},
      {IDC_GROUP_VALID_SCAN, words.groupValidScan},
      {IDC_LABEL_VALID_FILE, words.validFile},
      {IDC_LABEL_TEST_FILE, words.testFile},
      {IDC_MODE_REPAIR, words.modeRepair},
      {IDC_GROUP_REPAIR, words.groupRepair},
      {IDC_LABEL_REPAIR_BROKEN_FILE, words.repairBrokenFile},
      {IDC_LABEL_REPAIR_FILE, words.repairFile},
      {IDC_LABEL_OUTPUT_FOLDER, words.outputFolder},
      {IDC_START, words.start},
      {IDC_CLOSE, words.close},
  };
  for (const auto& control : controls) SetText(GetDlgItem(dialog, control.id), control.text);
}

// Dialog units across, in the dialog's pixels.
int DialogPixels(HWND dialog, int units) {
  RECT r{0, 0, units, 0};
  MapDialogRect(dialog, &r);
  return r.right;
}

void InitDialog(HWND dialog) {
  program.flashInfo.cbSize = sizeof program.flashInfo;
  program.flashInfo.hwnd = dialog;
  program.flashInfo.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
  program.flashInfo.uCount = 5;
  program.flashInfo.dwTimeout = 0;
  program.redBrush = CreateSolidBrush(kRed);
  SetClassLongPtrW(dialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(program.appIcon));

  program.processHeap = TakeProcessHeap();
  if (program.processHeap == nullptr) {
    ReportSystemError(dialog, CurrentWords().dialog.getProcessHeap, LastSystemError());
    EndDialog(dialog, 0);
    // The browse buttons' records come from that heap: nothing more can be set up.
    return;
  }

  FetchFieldHandles(dialog);
  PutControlWords(dialog, CurrentWords().window);
  const HWND edits[6] = {program.brokenFileEdit,       program.validFileEdit,  program.testFileEdit,
                         program.repairBrokenFileEdit, program.repairFileEdit, program.outputFolderEdit};
  for (HWND edit : edits) SendMessageW(edit, EM_LIMITTEXT, kFieldUnits, 0);
  // Commands 1 to 6 in the order of the fields; only the mode-1 fields start enabled.
  const int32_t enabled[6] = {1, 0, 0, 0, 0, 1};
  // The buttons keep the caption, not a copy: it lives as long as the program.
  static const std::wstring caption = L"...";
  const int32_t buttonWidth = DialogPixels(dialog, kBrowseButtonUnits);
  for (uint32_t i = 0; i < 6; ++i) {
    InstallBrowseEdit(edits[i], CMD_BROWSE_BROKEN_FILE + i, buttonWidth, caption.c_str(), enabled[i]);
  }
  SendMessageW(program.modeBrokenScanRadio, BM_SETCHECK, BST_CHECKED, 0);
  // Files and folders dropped from Explorer onto any field.
  DragAcceptFiles(dialog, TRUE);
}

// The mode part is the rightmost 275 pixels (at 96 dots per inch), the state part the rest.
// After a change of scale the dialog manager has given the dialog a new font and size: the
// parts and the browse buttons take it up here.
void Resize(HWND dialog, LPARAM lParam) {
  const int32_t width = LOWORD(lParam);
  program.statusPartEdges[0] = width - DialogPixels(dialog, kModePartUnits);
  program.statusPartEdges[1] = width;
  SendMessageW(program.statusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(program.statusPartEdges));
  const HWND edits[6] = {program.brokenFileEdit,       program.validFileEdit,  program.testFileEdit,
                         program.repairBrokenFileEdit, program.repairFileEdit, program.outputFolderEdit};
  for (HWND edit : edits) SetBrowseButtonWidth(edit, DialogPixels(dialog, kBrowseButtonUnits));
  if (program.firstResize == 1) {
    SetStatus(kStatePart, CurrentWords().dialog.ready);
    SetStatus(kModePart, CurrentWords().dialog.modeBrokenScan);
    program.firstResize = 0;
  }
}

void EnableEdits(HWND dialog, std::initializer_list<HWND> edits, BOOL enable) {
  for (HWND edit : edits) EnableWindow(edit, enable);
  for (HWND edit : edits) SetBrowseButtonEnabled(dialog, edit, enable);
}

void EnableControls(std::initializer_list<HWND> controls, BOOL enable) {
  for (HWND control : controls) EnableWindow(control, enable);
}

const char* ModeText(WorkMode mode) {
  switch (mode) {
    case WorkMode::BrokenScan: return CurrentWords().dialog.modeBrokenScan;
    case WorkMode::ValidScan: return CurrentWords().dialog.modeValidScan;
    case WorkMode::Repair: return CurrentWords().dialog.modeRepair;
  }
  return CurrentWords().dialog.modeBrokenScan;
}

void SwitchMode(HWND dialog, int radioId) {
  // The radios stand in the order of the modes.
  const WorkMode mode = static_cast<WorkMode>(radioId - IDC_MODE_BROKEN_SCAN + 1);
  CheckRadioButton(dialog, IDC_MODE_BROKEN_SCAN, IDC_MODE_REPAIR, radioId);
  SetStatus(kModePart, ModeText(mode));
  program.workMode = mode;

  // Row by row, as the controls stand on the dialog from top to bottom.
  const BOOL one = mode == WorkMode::BrokenScan, two = mode == WorkMode::ValidScan, three = mode == WorkMode::Repair;
  EnableEdits(dialog, {program.brokenFileEdit}, one);
  EnableControls({program.labelBrokenFile}, one);
  EnableControls({program.groupBrokenScan}, one);
  EnableEdits(dialog, {program.validFileEdit, program.testFileEdit}, two);
  EnableControls({program.labelValidFile, program.labelTestFile}, two);
  EnableControls({program.groupValidScan}, two);
  EnableEdits(dialog, {program.repairBrokenFileEdit, program.repairFileEdit}, three);
  EnableControls({program.labelRepairBrokenFile, program.labelRepairFile}, three);
  EnableControls({program.groupRepair}, three);
  EnableControls({program.labelOutputFolder}, one || two);
  EnableEdits(dialog, {program.outputFolderEdit}, one || two);

  // The file just scanned is usually the one to repair; copied whole, never cut.
  if (three && !HasText(program.repairBrokenFileEdit) && HasText(program.brokenFileEdit)) {
    SetText(program.repairBrokenFileEdit, FieldText(program.brokenFileEdit).text);
  }
}

// Every request goes to the worker thread, files and folders alike, so that the dialog keeps
// answering, shows its progress and can be stopped; false when it did not get that far (an
// empty field, or no record for the work, whose box has been shown).
bool StartOperationOfMode(HWND dialog) {
  switch (program.workMode) {
    case WorkMode::BrokenScan: {
      if (!CheckRequiredFields(dialog, program.brokenFileEdit, program.outputFolderEdit, nullptr)) return false;
      const FieldText broken(program.brokenFileEdit), folder(program.outputFolderEdit);
      return StartBackgroundWork(dialog, WorkMode::BrokenScan, NamesFolder(broken.text), broken.text, folder.text, nullptr);
    }
    case WorkMode::ValidScan: {
      if (!CheckRequiredFields(dialog, program.validFileEdit, program.testFileEdit, program.outputFolderEdit)) return false;
      const FieldText valid(program.validFileEdit), test(program.testFileEdit), folder(program.outputFolderEdit);
      return StartBackgroundWork(dialog, WorkMode::ValidScan, NamesFolder(valid.text), valid.text, test.text, folder.text);
    }
    case WorkMode::Repair: {
      if (!CheckRequiredFields(dialog, program.repairBrokenFileEdit, program.repairFileEdit, nullptr)) return false;
      // A follow-up goes into mode 1's output folder, where that mode's test file went; with
      // none there, beside the broken file.
      const FieldText broken(program.repairBrokenFileEdit), repair(program.repairFileEdit), folder(program.outputFolderEdit);
      const char* followUpFolder = folder.text[0] != '\0' ? folder.text : nullptr;
      return StartBackgroundWork(dialog, WorkMode::Repair, NamesFolder(broken.text), broken.text, repair.text, followUpFolder);
    }
  }
  return false;
}

void AnnounceTaskDone(HWND dialog, WorkMode mode, const Outcome& outcome) {
  Beep(5000, 50);
  bool warning = false;
  const std::string note = DoneNote(mode, outcome, &warning);
  const std::string text = note.empty() ? std::string(CurrentWords().dialog.taskDone)
                                        : std::string(CurrentWords().dialog.taskDone) + "\n\n" + note;
  ShowBox(dialog, text.c_str(), CurrentWords().shared.attention, MB_OK | (warning ? MB_ICONWARNING : 0));
}

void Start(HWND dialog) {
  SetStatus(kStatePart, CurrentWords().dialog.working);
  program.cursorRefresh = 1;
  program.busy = 1;
  SendMessageW(dialog, WM_MOUSEMOVE, 0, 0);
  // The work goes on after Start has returned; its end comes as a message.
  if (StartOperationOfMode(dialog)) return;

  // It never began: its box has said why.
  program.busy = 0;
  SendMessageW(dialog, WM_MOUSEMOVE, 0, 0);
  FlashWindowEx(&program.flashInfo);
  SetStatus(kStatePart, CurrentWords().dialog.ready);
}

// The end of the work: the dialog is idle again before anything is shown, then the outcome
// comes with its signals and box.
void EndBackgroundWork(HWND dialog) {
  BackgroundOutcome outcome;
  if (!TakeBackgroundOutcome(dialog, &outcome)) return;
  program.busy = 0;
  SendMessageW(dialog, WM_MOUSEMOVE, 0, 0);
  SetStatus(kStatePart, CurrentWords().dialog.ready);
  FlashWindowEx(&program.flashInfo);
  if (outcome.workerFailed) {
    ReportSystemError(dialog, CurrentWords().dialog.startWorker, outcome.workerError);
  } else if (outcome.folder) {
    const Outcome& folder = outcome.tree.outcome;
    if (folder.ending == Ending::Done && !folder.outputMayNotSurvivePowerCut && !AnyMismatch(outcome.tree)) Beep(5000, 50);
    ShowFolderOutcome(dialog, outcome.mode, outcome.tree);
  } else if (outcome.outcome.ending == Ending::Done && !outcome.outcome.outputMayNotSurvivePowerCut) {
    AnnounceTaskDone(dialog, outcome.mode, outcome.outcome);
  } else {
    ShowOutcomeBox(dialog, outcome.mode, outcome.outcome);
  }
  if (outcome.closeAfter) EndDialog(dialog, 0);
}

// Close, Escape and the close box: while the work runs, they first ask whether
// to stop it.
void RequestClose(HWND dialog) {
  if (BackgroundWorkRunning()) {
    AskToStopBackgroundWork(dialog);
  } else {
    EndDialog(dialog, 0);
  }
}

// The dialog manager sends Enter and Escape as commands 1 and 2, the ids of the first two
// browse commands; the key is still down while its command arrives, a browse button's
// command comes after a mouse release. Escape closes the dialog, Enter does nothing.
bool HandledAsKey(HWND dialog, WORD id) {
  if (id == IDOK && GetKeyState(VK_RETURN) < 0) return true;
  if (id == IDCANCEL && GetKeyState(VK_ESCAPE) < 0) {
    RequestClose(dialog);
    return true;
  }
  return false;
}

void Command(HWND dialog, WPARAM wParam) {
  // Edit notifications and every other non-zero code are not commands.
  if (HIWORD(wParam) != 0) return;
  const WORD id = LOWORD(wParam);
  // During the work the rest of the dialog is disabled; this also holds off the
  // commands that come as messages.
  if (BackgroundWorkRunning()) {
    if (id == IDC_CLOSE || (id == IDCANCEL && GetKeyState(VK_ESCAPE) < 0)) RequestClose(dialog);
    return;
  }
  switch (id) {
    case IDC_MODE_BROKEN_SCAN:
    case IDC_MODE_VALID_SCAN:
    case IDC_MODE_REPAIR:
      SwitchMode(dialog, id);
      break;
    case IDC_START:
      Start(dialog);
      break;
    case IDC_CLOSE:
      RequestClose(dialog);
      break;
    case CMD_BROWSE_BROKEN_FILE:
    case CMD_BROWSE_VALID_FILE:
    case CMD_BROWSE_TEST_FILE:
    case CMD_BROWSE_REPAIR_BROKEN_FILE:
    case CMD_BROWSE_REPAIR_FILE:
    case CMD_BROWSE_OUTPUT_FOLDER:
      if (!HandledAsKey(dialog, id)) HandleBrowseCommand(dialog, id);
      break;
  }
}

// Whether the dialog manager rescales the dialog itself when it moves to a monitor of another
// scale: per-monitor awareness version 2 (Windows 10 1703 on). The calls are looked up at run
// time, so that the program still starts on Windows 7.
bool SystemScalesDialogs(HWND dialog) {
  using GetContextCall = DPI_AWARENESS_CONTEXT(WINAPI*)(HWND);
  using EqualCall = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);
  const HMODULE user = GetModuleHandleW(L"user32.dll");
  const auto getContext = reinterpret_cast<GetContextCall>(
      reinterpret_cast<void*>(GetProcAddress(user, "GetWindowDpiAwarenessContext")));
  const auto equal = reinterpret_cast<EqualCall>(reinterpret_cast<void*>(GetProcAddress(user, "AreDpiAwarenessContextsEqual")));
  return getContext != nullptr && equal != nullptr &&
         equal(getContext(dialog), DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE;
}

// The window has moved to a monitor of another scale. Under per-monitor awareness version 2
// the dialog manager rescales the template's layout and fonts and resizes the dialog, and
// WM_SIZE lays out what the dialog sizes itself. Without it (per-monitor version 1: Windows 8.1
// and the first Windows 10), the window keeps its layout, drawn sharply at the old size, and
// moves where the system suggests.
void ChangeScale(HWND dialog, const RECT* suggested) {
  if (SystemScalesDialogs(dialog)) return;
  SetWindowPos(dialog, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Start sends itself WM_MOUSEMOVE to bring the cursor in line with its work; otherwise the
// cursor is the system's business.
void RefreshCursor() {
  if (program.cursorRefresh == 0) return;
  if (program.busy == 0) {
    SetCursor(program.arrowCursor);
    program.cursorRefresh = 0;
  } else {
    SetCursor(program.waitCursor);
  }
}

}  // namespace

void TakeStartUpValues() {
  // Russian where the user's display language is Russian, English for every other.
  UseWords(WordsForWindowsLanguage(GetUserDefaultUILanguage()));
  program.instance = GetModuleHandleW(nullptr);
  program.appIcon = LoadIconW(program.instance, MAKEINTRESOURCEW(IDI_APP));
  // The system's cursors by number; the headers spell the numbers for the narrow calls.
  program.arrowCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  program.waitCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      Command(dialog, wParam);
      return TRUE;
    case WM_SIZE:
      Resize(dialog, lParam);
      return TRUE;
    case WM_DPICHANGED:
      ChangeScale(dialog, reinterpret_cast<const RECT*>(lParam));
      return FALSE;
    case WM_MOUSEMOVE:
      RefreshCursor();
      return TRUE;
    case WM_LBUTTONDOWN:
      // A press anywhere on the dialog's own surface drags it like its caption.
      ReleaseCapture();
      SendMessageW(dialog, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      return TRUE;
    case WM_CTLCOLOREDIT:
      return static_cast<INT_PTR>(RequiredFieldColours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_CLOSE:
      RequestClose(dialog);
      return TRUE;
    case WM_SETCURSOR:
      // During the work the dialog answers, so the system would put the arrow back
      // at every move: the wait cursor is kept over the client area and the controls.
      if (BackgroundWorkRunning() && LOWORD(lParam) == HTCLIENT) {
        SetCursor(program.waitCursor);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_DROPFILES:
      // While work runs the fields are out of use, and so is a drop onto them.
      if (BackgroundWorkRunning()) {
        DragFinish(reinterpret_cast<HDROP>(wParam));
      } else {
        TakeDroppedPath(dialog, reinterpret_cast<HDROP>(wParam));
      }
      return TRUE;
    case kWorkProgressMessage:
      ShowBackgroundProgress(wParam);
      return TRUE;
    case kWorkEndedMessage:
      EndBackgroundWork(dialog);
      return TRUE;
    case WM_DESTROY:
      AbandonBackgroundWork();
      return FALSE;
  }
  return FALSE;
}
