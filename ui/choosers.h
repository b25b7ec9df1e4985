// The browse commands of the six path fields: the open-file chooser for the five file
// fields, the folder browser for the output folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "words/words.h"

// The filters of the open-file chooser: all files; test files, then all; repair files, then all.
enum class ChooserFilter { AllFiles, TestFiles, RepairFiles };

// A filter as the chooser takes it: (description, pattern) pairs, each zero-terminated, the list
// ended by one more zero (the string's own); UTF-8, turned into UTF-16 for the call. The
// descriptions are the table's.
std::string FilterList(ChooserFilter filter, const Words& words);

// Runs the browse command 1 to 6 of the dialog.
void HandleBrowseCommand(HWND dialog, uint32_t commandId);

// Fills program.openFileRequest and shows the chooser; nonzero when a file was chosen, whose
// path is then in program.sharedPath (UTF-8). On entry that buffer holds the proposed name,
// and program.initialFolder the folder to start in.
BOOL OpenFileChooser(HWND owner, const char* filter);

// Shows the folder browser; 1 with the chosen folder's path in program.sharedPath, 0 when
// it was cancelled.
int FolderChooser(HWND owner);

int CALLBACK FolderChooserCallback(HWND window, UINT message, LPARAM lParam, LPARAM data);
