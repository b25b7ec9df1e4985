// The file fields start their chooser in a folder taken from the field or its neighbour, and
// the broken file of mode 1 and the valid file fill an empty output folder with their own
// folder, so that it seldom needs choosing separately. Paths are UTF-8 in the program's
// buffers and UTF-16 only in the choosers' own, which the wide chooser calls fill.
#include "ui/choosers.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "support/strip_last_component.h"
#include "ui/control_ids.h"
#include "ui/program_state.h"
#include "words/words.h"
#include "ui/window_text.h"

std::string FilterList(ChooserFilter filter, const Words& words) {
  // One pair: the description, its zero, the pattern, its zero.
  const auto pair = [](const char* description, const char* pattern) {
    return std::string(description) + '\0' + pattern + '\0';
  };
  const std::string allFiles = pair(words.window.allFilesFilter, "*.*");
  switch (filter) {
    case ChooserFilter::AllFiles: return allFiles + '\0';
    case ChooserFilter::TestFiles: return pair(words.window.testFilesFilter, "*.crc") + allFiles + '\0';
    case ChooserFilter::RepairFiles: return pair(words.window.repairFilesFilter, "*.fix") + allFiles + '\0';
  }
  return allFiles + '\0';
}

namespace {

struct FileCommand {
  HWND field;
  HWND neighbour;  // null for command 1, which starts in the program's folder
  ChooserFilter filter;
  bool fillsOutputFolder;
};

FileCommand FileCommandOf(uint32_t commandId) {
  switch (commandId) {
    case CMD_BROWSE_BROKEN_FILE:
      return {program.brokenFileEdit, nullptr, ChooserFilter::AllFiles, true};
    case CMD_BROWSE_VALID_FILE:
      return {program.validFileEdit, program.testFileEdit, ChooserFilter::AllFiles, true};
    case CMD_BROWSE_TEST_FILE:
      return {program.testFileEdit, program.validFileEdit, ChooserFilter::TestFiles, false};
    case CMD_BROWSE_REPAIR_BROKEN_FILE:
      return {program.repairBrokenFileEdit, program.repairFileEdit, ChooserFilter::AllFiles, false};
    default:
      return {program.repairFileEdit, program.repairBrokenFileEdit, ChooserFilter::RepairFiles, false};
  }
}

// The open-file request's filter and title, and the folder browser's title and status line,
// in the UTF-16 the calls take; they live until the next call.
std::wstring requestFilter;
std::wstring requestTitle;
std::wstring browserTitle;
std::wstring browserStatus;

// Reads a field's whole text (at most 520 units, which fit) into a UTF-8 path buffer after
// zeroing it; returns its length in bytes.
uint32_t ReadField(HWND field, char* buffer) {
  std::memset(buffer, 0, kPathBufferSize);
  const std::string text = WindowText(field);
  std::memcpy(buffer, text.data(), text.size() < kPathBufferSize ? text.size() : kPathBufferSize - 1);
  return static_cast<uint32_t>(std::strlen(buffer));
}

// A UTF-8 path into a chooser's UTF-16 buffer of kFieldUnits units, cut to fit: it is only
// proposed to the chooser, and only what the chooser hands back is written to a field.
void PutIntoChooserBuffer(const char* path, wchar_t* buffer) {
  const std::wstring wide = Wide(path);
  const size_t units = wide.size() < kFieldUnits ? wide.size() : kFieldUnits - 1;
  std::memset(buffer, 0, kFieldUnits * sizeof(wchar_t));
  std::memcpy(buffer, wide.data(), units * sizeof(wchar_t));
}

// What a chooser handed back, as UTF-8 in a zeroed path buffer.
void TakeFromChooserBuffer(const wchar_t* buffer, char* path) {
  const std::string text = Utf8(buffer, wcsnlen(buffer, kFieldUnits));
  std::memset(path, 0, kPathBufferSize);
  std::memcpy(path, text.data(), text.size() < kPathBufferSize ? text.size() : kPathBufferSize - 1);
}

// The program's own folder, for the first chooser of the broken file.
uint32_t ReadProgramFolder(char* buffer) {
  wchar_t module[kFieldUnits] = {};
  const DWORD units = GetModuleFileNameW(program.instance, module, kFieldUnits);
  std::memset(buffer, 0, kPathBufferSize);
  if (units == 0 || units >= kFieldUnits) return 0;
  TakeFromChooserBuffer(module, buffer);
  return static_cast<uint32_t>(std::strlen(buffer));
}

void RunFileCommand(HWND dialog, uint32_t commandId) {
  const FileCommand command = FileCommandOf(commandId);
  ReadField(command.field, program.sharedPath);

  if (!HasText(command.field)) {
    if (commandId == CMD_BROWSE_BROKEN_FILE) {
      const uint32_t length = ReadProgramFolder(program.initialFolder);
      StripLastComponent(program.initialFolder, length);
    } else if (HasText(command.neighbour)) {
      const uint32_t length = ReadField(command.neighbour, program.initialFolder);
      StripLastComponent(program.initialFolder, length);
    }
    // Otherwise the folder an earlier command left stays the start folder.
  }

  // Only a chosen path is written back. After a cancel the buffer holds the field's text
  // cut to 519 units, and after a failure something else entirely (a chooser whose buffer
  // was too small leaves the size it needed in its first units): the field keeps its own
  // text instead.
  if (OpenFileChooser(dialog, FilterList(command.filter, CurrentWords()).c_str())) {
    SetText(command.field, program.sharedPath);
  }

  if (command.fillsOutputFolder && !HasText(program.outputFolderEdit) && HasText(command.field)) {
    const uint32_t length = ReadField(command.field, program.sharedPath);
    StripLastComponent(program.sharedPath, length);
    SetText(program.outputFolderEdit, program.sharedPath);
  }
}

}  // namespace

BOOL OpenFileChooser(HWND owner, const char* filter) {
  OPENFILENAMEW& request = program.openFileRequest;
  std::memset(&request, 0, sizeof request);
  PutIntoChooserBuffer(program.sharedPath, program.chooserPath);
  PutIntoChooserBuffer(program.initialFolder, program.chooserFolder);
  std::memset(program.fileTitle, 0, sizeof program.fileTitle);
  requestFilter = WideList(filter);
  requestTitle = Wide(CurrentWords().dialog.chooseFile);
  // The record without the fields later systems added.
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  request.hwndOwner = owner;
  request.hInstance = program.instance;
  request.lpstrFilter = requestFilter.c_str();
  request.nFilterIndex = 1;
  request.lpstrFile = program.chooserPath;
  // The buffers' real sizes, so that a path of up to 519 units arrives whole.
  request.nMaxFile = kFieldUnits;
  request.lpstrFileTitle = program.fileTitle;
  request.nMaxFileTitle = kFieldUnits;
  request.lpstrInitialDir = program.chooserFolder;
  request.lpstrTitle = requestTitle.c_str();
  request.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  const BOOL chosen = GetOpenFileNameW(&request);
  if (chosen) TakeFromChooserBuffer(program.chooserPath, program.sharedPath);
  return chosen;
}

int CALLBACK FolderChooserCallback(HWND window, UINT message, LPARAM, LPARAM) {
  if (message == BFFM_INITIALIZED && HasText(program.outputFolderEdit)) {
    ReadField(program.outputFolderEdit, program.sharedPath);
    PutIntoChooserBuffer(program.sharedPath, program.chooserFolder);
    // Posted: carried out once the browser has finished setting itself up, while nothing
    // touches the buffer.
    PostMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(program.chooserFolder));
  }
  browserStatus = Wide(CurrentWords().dialog.chooseFolder);
  return static_cast<int>(SendMessageW(window, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(browserStatus.c_str())));
}

int FolderChooser(HWND owner) {
  LPITEMIDLIST root = nullptr;
  // Without the drives folder the browser starts at the desktop.
  if (FAILED(SHGetSpecialFolderLocation(owner, CSIDL_DRIVES, &root))) root = nullptr;
  ReadField(program.outputFolderEdit, program.sharedPath);
  browserTitle = Wide(program.sharedPath);

  BROWSEINFOW request{};
  request.hwndOwner = owner;
  request.pidlRoot = root;
  // The browser writes the chosen item's display name here, which nothing reads.
  request.pszDisplayName = program.chooserPath;
  request.lpszTitle = browserTitle.c_str();
  request.ulFlags = BIF_STATUSTEXT | BIF_RETURNFSANCESTORS;
  request.lpfn = &FolderChooserCallback;
  LPITEMIDLIST chosen = SHBrowseForFolderW(&request);
  CoTaskMemFree(root);
  if (chosen == nullptr) return 0;
  // A folder outside the file system (the computer itself, say) has no path: nothing chosen.
  std::memset(program.chooserPath, 0, sizeof program.chooserPath);
  const BOOL converted = SHGetPathFromIDListW(chosen, program.chooserPath);
  CoTaskMemFree(chosen);
  if (!converted) return 0;
  TakeFromChooserBuffer(program.chooserPath, program.sharedPath);
  return 1;
}

void HandleBrowseCommand(HWND dialog, uint32_t commandId) {
  if (commandId != CMD_BROWSE_OUTPUT_FOLDER) {
    RunFileCommand(dialog, commandId);
    return;
  }
  ReadField(program.outputFolderEdit, program.sharedPath);
  if (FolderChooser(dialog) == 1) SetText(program.outputFolderEdit, program.sharedPath);
}
