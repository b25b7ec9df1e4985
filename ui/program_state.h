// The program's one state: start-up values, the dialog's state and the path buffers. It is
// filled at start-up and at WM_INITDIALOG and lives until the process ends. Only the dialog's
// thread touches it: the worker has a record of its own and talks to the dialog by
// posted messages.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/path_buffer.h"

// The three work modes, numbered as the dialog has always numbered them.
enum class WorkMode : uint32_t { BrokenScan = 1, ValidScan = 2, Repair = 3 };

struct ProgramState {
  // Start-up values.
  HINSTANCE instance;
  HICON appIcon;
  HCURSOR arrowCursor;
  HCURSOR waitCursor;

  // Dialog state.
  WorkMode workMode;
  uint32_t firstResize;
  int32_t statusPartEdges[2];
  uint32_t busy;
  uint32_t cursorRefresh;
  FLASHWINFO flashInfo;
  HBRUSH redBrush;
  HANDLE processHeap;
  HWND highlightSlots[3];
  // The work of Start, running on its own thread (ui/background_work.h); null otherwise.
  struct BackgroundWork* backgroundWork;

  // Field handles, fetched once at WM_INITDIALOG.
  HWND modeBrokenScanRadio;  // 1004
  HWND brokenFileEdit;       // 1008
  HWND validFileEdit;        // 1009
  HWND testFileEdit;         // 1010
  HWND repairBrokenFileEdit; // 1011
  HWND repairFileEdit;       // 1012
  HWND outputFolderEdit;     // 1013
  HWND groupBrokenScan;      // 1026
  HWND groupValidScan;       // 1027
  HWND groupRepair;          // 1028
  HWND labelBrokenFile;      // 1030
  HWND labelValidFile;       // 1031
  HWND labelTestFile;        // 1032
  HWND labelRepairBrokenFile;// 1033
  HWND labelRepairFile;      // 1034
  HWND labelOutputFolder;    // 1035
  HWND statusBar;            // 1038

  // Path buffers of the dialog and the choosers: UTF-8, as every path inside the program.
  char sharedPath[kPathBufferSize];
  char initialFolder[kPathBufferSize];
  // The choosers' own, in the UTF-16 they take and give, a field's 520 units each: the file
  // name proposed and chosen, the chosen file's name without its folder, the start folder.
  wchar_t chooserPath[kFieldUnits];
  wchar_t fileTitle[kFieldUnits];
  wchar_t chooserFolder[kFieldUnits];
  OPENFILENAMEW openFileRequest;
};

// Mode 1 and the first resize still to come; everything else zero.
extern ProgramState program;

// Resets the state to its start values; tests that open the dialog again call it first.
void ResetProgramState();
