// Test dialogs made in memory: a dialog template with the controls a test needs, in dialog
// units and with the main window's font, so the controls look as they do in the program.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gui {

class DialogBuilder {
 public:
  DialogBuilder(const std::string& caption, int x, int y, int width, int height);

  DialogBuilder& Edit(int id, int x, int y, int width, int height, DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                      DWORD exStyle = WS_EX_CLIENTEDGE);
  DialogBuilder& Button(int id, const std::string& text, int x, int y, int width, int height);
  DialogBuilder& Static(int id, const std::string& text, int x, int y, int width, int height);

  // A modeless dialog; its procedure gets initParam with WM_INITDIALOG.
  HWND Create(DLGPROC procedure, LPARAM initParam = 0);
  // A modal dialog; returns what EndDialog gave it.
  INT_PTR Run(DLGPROC procedure, LPARAM initParam = 0);

 private:
  void Control(int id, uint16_t classAtom, const std::string& text, DWORD style, DWORD exStyle, int x, int y,
               int width, int height);
  void Align();
  void PutWord(uint16_t value);
  void PutDword(uint32_t value);
  void PutText(const std::string& text);
  const DLGTEMPLATE* Template();

  std::vector<uint16_t> words_;
  int count_ = 0;
  size_t countAt_ = 0;
};

}  // namespace gui
