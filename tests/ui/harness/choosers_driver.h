// Reads and drives the platform's open-file chooser and folder browser as the user sees them:
// what they show is read from their controls, and names are typed and buttons pressed with
// real input.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace gui {

// Whether a modal dialog is the open-file chooser (it has the file-type list and the name
// field) or the folder browser (it has the folder tree).
bool IsOpenFileChooser(HWND window);
bool IsFolderBrowser(HWND window);

struct OpenFileChooserView {
  std::string title;
  std::string folder;  // the folder it shows
  std::string fileName;
  std::vector<std::string> fileTypes;  // the descriptions offered, in order
  std::string selectedFileType;
  std::vector<std::string> listedNames;  // what the file list shows
};

OpenFileChooserView ReadOpenFileChooser(HWND chooser);
// Types a name into the chooser's name field, replacing what it held.
void TypeFileName(HWND chooser, const std::string& name);
// Presses a dialog's button by its id (IDOK is Open or OK, IDCANCEL Cancel).
void PressDialogButton(HWND dialog, int id);
// The same, but only queued: the caller returns to the chooser's own loop before the press
// arrives, so that a message box it opens is met by that loop and can be answered.
void QueueDialogButtonPress(HWND dialog, int id);

struct FolderBrowserView {
  std::string titleLine;   // the line above the tree
  std::string statusLine;  // the line that says what to do
  std::vector<std::string> rootItems;  // the texts of the tree's top level
  std::vector<std::string> rootChildren;  // the texts under the first top-level item, once open
  std::vector<std::string> selectedPath;  // the selected item's texts from the top level down
};

FolderBrowserView ReadFolderBrowser(HWND browser);
// Opens the selected folder's branch with the keyboard and clicks its child shown as name;
// false when no such child appears.
bool PickChildFolder(HWND browser, const std::string& name);

}  // namespace gui
