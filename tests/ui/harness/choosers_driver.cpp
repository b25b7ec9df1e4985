// The choosers' controls are found by the ids of the platform's own dialog templates, which
// Windows and Wine share; their list and tree controls live in this process, so their items
// are read with plain messages.
#include "tests/ui/harness/choosers_driver.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <cstring>
#include <cwchar>

#include "platform/win32/wide.h"
#include "tests/ui/harness/gui_driver.h"

namespace gui {

namespace {

constexpr int kFileNameId = cmb13;
constexpr int kFileTypeId = cmb1;
constexpr int kFileListId = lst2;
constexpr int kFolderTreeId = 0x3741;
constexpr int kFolderTitleId = 0x3742;
constexpr int kFolderStatusId = 0x3743;

// The first descendant of a window with the given class.
HWND FindDescendant(HWND parent, const char* className) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    char name[32] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, className) == 0) return child;
    if (HWND inner = FindDescendant(child, className)) return inner;
  }
  return nullptr;
}

// The edit inside the name field (a combo box, in older templates a plain edit).
HWND FileNameEdit(HWND chooser) {
  HWND field = GetDlgItem(chooser, kFileNameId);
  if (field == nullptr) return GetDlgItem(chooser, edt1);
  HWND edit = FindDescendant(field, "Edit");
  return edit != nullptr ? edit : field;
}

// Every text is read through the wide messages and handed on as UTF-8.
std::string ComboItem(HWND combo, WPARAM index) {
  const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  return Utf8(text.data(), static_cast<size_t>(length));
}

std::string TreeItemText(HWND tree, HTREEITEM item) {
  wchar_t text[520] = {};
  TVITEMW request{};
  request.mask = TVIF_TEXT;
  request.hItem = item;
  request.pszText = text;
  request.cchTextMax = 520;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&request));
  return Utf8(text, wcsnlen(text, 520));
}

HTREEITEM TreeNext(HWND tree, HTREEITEM item, UINT how) {
  return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM ChildNamed(HWND tree, HTREEITEM parent, const std::string& name) {
  for (HTREEITEM child = TreeNext(tree, parent, TVGN_CHILD); child != nullptr;
       child = TreeNext(tree, child, TVGN_NEXT)) {
    if (TreeItemText(tree, child) == name) return child;
  }
  return nullptr;
}

// A click whose press and release are queued together: the tree view waits for the release
// inside its press handler (it tells a click from a drag), so nothing may be pumped between.
void QueueClick(POINT screen) {
  MoveMouseTo(screen);
  INPUT input[2] = {};
  input[0].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].type = INPUT_MOUSE;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof input[0]);
}

void ClickInOneGo(POINT screen) {
  QueueClick(screen);
  Pump(40);
}

// Clicks the text of a tree item, scrolled into view first as the user would.
void ClickTreeItem(HWND tree, HTREEITEM item) {
  SendMessageA(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
  Pump(20);
  // The request carries the item in the rectangle's place.
  RECT rect{};
  std::memcpy(&rect, &item, sizeof item);
  SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
  POINT centre{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  ClientToScreen(tree, &centre);
  ClickInOneGo(centre);
}

}  // namespace

bool IsOpenFileChooser(HWND window) {
  return GetDlgItem(window, kFileTypeId) != nullptr && FileNameEdit(window) != nullptr;
}

bool IsFolderBrowser(HWND window) { return GetDlgItem(window, kFolderTreeId) != nullptr; }

OpenFileChooserView ReadOpenFileChooser(HWND chooser) {
  OpenFileChooserView view;
  view.title = TextOf(chooser);
  wchar_t folder[1024] = {};
  if (SendMessageW(chooser, CDM_GETFOLDERPATH, 1024, reinterpret_cast<LPARAM>(folder)) > 0) {
    view.folder = Utf8(folder, wcsnlen(folder, 1024));
  }
  view.fileName = TextOf(FileNameEdit(chooser));
  HWND types = GetDlgItem(chooser, kFileTypeId);
  const LRESULT count = SendMessageA(types, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) view.fileTypes.push_back(ComboItem(types, static_cast<WPARAM>(i)));
  const LRESULT selected = SendMessageA(types, CB_GETCURSEL, 0, 0);
  if (selected != CB_ERR) view.selectedFileType = ComboItem(types, static_cast<WPARAM>(selected));

  HWND list = FindDescendant(GetDlgItem(chooser, kFileListId), WC_LISTVIEWA);
  if (list != nullptr) {
    const LRESULT items = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < items; ++i) {
      wchar_t text[520] = {};
      LVITEMW item{};
      item.iSubItem = 0;
      item.pszText = text;
      item.cchTextMax = 520;
      SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
      view.listedNames.push_back(Utf8(text, wcsnlen(text, 520)));
    }
  }
  return view;
}

void TypeFileName(HWND chooser, const std::string& name) { TypeInto(FileNameEdit(chooser), name); }

void PressDialogButton(HWND dialog, int id) { Click(GetDlgItem(dialog, id)); }

void QueueDialogButtonPress(HWND dialog, int id) { QueueClick(CentreOf(GetDlgItem(dialog, id))); }

FolderBrowserView ReadFolderBrowser(HWND browser) {
  FolderBrowserView view;
  view.titleLine = TextOf(GetDlgItem(browser, kFolderTitleId));
  view.statusLine = TextOf(GetDlgItem(browser, kFolderStatusId));
  HWND tree = GetDlgItem(browser, kFolderTreeId);
  for (HTREEITEM item = TreeNext(tree, nullptr, TVGN_ROOT); item != nullptr; item = TreeNext(tree, item, TVGN_NEXT)) {
    view.rootItems.push_back(TreeItemText(tree, item));
  }
  const HTREEITEM root = TreeNext(tree, nullptr, TVGN_ROOT);
  for (HTREEITEM item = root != nullptr ? TreeNext(tree, root, TVGN_CHILD) : nullptr; item != nullptr;
       item = TreeNext(tree, item, TVGN_NEXT)) {
    view.rootChildren.push_back(TreeItemText(tree, item));
  }
  for (HTREEITEM item = TreeNext(tree, nullptr, TVGN_CARET); item != nullptr;
       item = TreeNext(tree, item, TVGN_PARENT)) {
    view.selectedPath.insert(view.selectedPath.begin(), TreeItemText(tree, item));
  }
  return view;
}

bool PickChildFolder(HWND browser, const std::string& name) {
  HWND tree = GetDlgItem(browser, kFolderTreeId);
  const HTREEITEM selected = TreeNext(tree, nullptr, TVGN_CARET);
  if (selected == nullptr) return false;
  // A click on the selected item only gives the tree the focus; the right arrow then opens
  // the branch, which fills it.
  ClickTreeItem(tree, selected);
  PressKey(VK_RIGHT);
  HTREEITEM child = nullptr;
  PumpUntil([&] { return (child = ChildNamed(tree, selected, name)) != nullptr; }, 2000);
  if (child == nullptr) return false;
  ClickTreeItem(tree, child);
  return PumpUntil([&] { return TreeNext(tree, nullptr, TVGN_CARET) == child; }, 2000);
}

}  // namespace gui
