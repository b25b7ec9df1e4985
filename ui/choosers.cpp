// The file fields start their chooser in a folder taken from the field or its neighbour, and
// the broken file of mode 1 and the valid file fill an empty output folder with their own
// folder, so that it seldom needs choosing separately.
#include "ui/choosers.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstring>

#include "support/strip_last_component.h"
#include "ui/control_ids.h"
#include "ui/program_state.h"
#include "ui/texts.h"

// sizeof includes the terminating zero the literal adds: the list ends with two zeros.
const char kAllFilesFilter[] = "Все файлы (*.*)\0*.*\0";
const char kTestFileFilter[] = "Тестовые файлы (*.crc)\0*.crc\0Все файлы (*.*)\0*.*\0";
const char kRepairFileFilter[] = "Ремонтные файлы (*.fix)\0*.fix\0Все файлы (*.*)\0*.*\0";

namespace {

struct FileCommand {
  HWND field;
  HWND neighbour;  // null for command 1, which starts in the program's folder
  const char* filter;
  bool fillsOutputFolder;
};

FileCommand FileCommandOf(uint32_t commandId) {
  switch (commandId) {
    case CMD_BROWSE_BROKEN_FILE:
      return {program.brokenFileEdit, nullptr, kAllFilesFilter, true};
    case CMD_BROWSE_VALID_FILE:
      return {program.validFileEdit, program.testFileEdit, kAllFilesFilter, true};
    case CMD_BROWSE_TEST_FILE:
      return {program.testFileEdit, program.validFileEdit, kTestFileFilter, false};
    case CMD_BROWSE_REPAIR_BROKEN_FILE:
      return {program.repairBrokenFileEdit, program.repairFileEdit, kAllFilesFilter, false};
    default:
      return {program.repairFileEdit, program.repairBrokenFileEdit, kRepairFileFilter, false};
  }
}

// Reads a field into a buffer after zeroing it; returns the length read.
uint32_t ReadField(HWND field, char* buffer) {
  std::memset(buffer, 0, kPathBufferSize);
  return static_cast<uint32_t>(GetWindowTextA(field, buffer, kPathBufferSize));
}

void RunFileCommand(HWND dialog, uint32_t commandId) {
  const FileCommand command = FileCommandOf(commandId);
  ReadField(command.field, program.sharedPath);

  if (GetWindowTextLengthA(command.field) == 0) {
    if (commandId == CMD_BROWSE_BROKEN_FILE) {
      const DWORD length = GetModuleFileNameA(program.instance, program.initialFolder, kPathBufferSize);
      StripLastComponent(program.initialFolder, length);
    } else if (GetWindowTextLengthA(command.neighbour) != 0) {
      const uint32_t length = ReadField(command.neighbour, program.initialFolder);
      StripLastComponent(program.initialFolder, length);
    }
    // Otherwise the folder an earlier command left stays the start folder.
  }

  // Only a chosen path is written back. After a cancel the buffer holds the field's text
  // cut to 519 characters, and after a failure something else entirely (a chooser whose
  // buffer was too small leaves the size it needed in its first bytes): the field keeps its
  // own text instead.
  if (OpenFileChooser(dialog, command.filter)) SetWindowTextA(command.field, program.sharedPath);

  if (command.fillsOutputFolder && GetWindowTextLengthA(program.outputFolderEdit) == 0 &&
      GetWindowTextLengthA(command.field) != 0) {
    const uint32_t length = ReadField(command.field, program.sharedPath);
    StripLastComponent(program.sharedPath, length);
    SetWindowTextA(program.outputFolderEdit, program.sharedPath);
  }
}

}  // namespace

BOOL OpenFileChooser(HWND owner, const char* filter) {
  OPENFILENAMEA& request = program.openFileRequest;
  std::memset(&request, 0, sizeof request);
  // The record without the fields later systems added.
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = owner;
  request.hInstance = program.instance;
  request.lpstrFilter = filter;
  request.nFilterIndex = 1;
  request.lpstrFile = program.sharedPath;
  // The buffers' real sizes, so that a path of up to 519 characters arrives whole.
  request.nMaxFile = kPathBufferSize;
  request.lpstrFileTitle = program.fileTitle;
  request.nMaxFileTitle = kPathBufferSize;
  request.lpstrInitialDir = program.initialFolder;
  request.lpstrTitle = dialog_text::kChooseFile;
  request.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  return GetOpenFileNameA(&request);
}

int CALLBACK FolderChooserCallback(HWND window, UINT message, LPARAM, LPARAM) {
  if (message == BFFM_INITIALIZED && GetWindowTextLengthA(program.outputFolderEdit) != 0) {
    ReadField(program.outputFolderEdit, program.sharedPath);
    // Posted: carried out once the browser has finished setting itself up.
    PostMessageA(window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(program.sharedPath));
  }
  return static_cast<int>(
      SendMessageA(window, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(dialog_text::kChooseFolder)));
}

int FolderChooser(HWND owner) {
  LPITEMIDLIST root = nullptr;
  // Without the drives folder the browser starts at the desktop.
  if (FAILED(SHGetSpecialFolderLocation(owner, CSIDL_DRIVES, &root))) root = nullptr;
  ReadField(program.outputFolderEdit, program.sharedPath);

  BROWSEINFOA request{};
  request.hwndOwner = owner;
  request.pidlRoot = root;
  request.pszDisplayName = program.sharedPath;
  request.lpszTitle = program.sharedPath;
  request.ulFlags = BIF_STATUSTEXT | BIF_RETURNFSANCESTORS;
  request.lpfn = &FolderChooserCallback;
  LPITEMIDLIST chosen = SHBrowseForFolderA(&request);
  CoTaskMemFree(root);
  if (chosen == nullptr) return 0;
  // A folder outside the file system (the computer itself, say) has no path: nothing chosen.
  const BOOL converted = SHGetPathFromIDListA(chosen, program.sharedPath);
  CoTaskMemFree(chosen);
  return converted ? 1 : 0;
}

void HandleBrowseCommand(HWND dialog, uint32_t commandId) {
  if (commandId != CMD_BROWSE_OUTPUT_FOLDER) {
    RunFileCommand(dialog, commandId);
    return;
  }
  ReadField(program.outputFolderEdit, program.sharedPath);
  if (FolderChooser(dialog) == 1) SetWindowTextA(program.outputFolderEdit, program.sharedPath);
}
