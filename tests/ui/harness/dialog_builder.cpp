// A DLGTEMPLATE with DS_SETFONT, each item DWORD-aligned, texts in UTF-16 converted from UTF-8,
// made with the wide calls as the program makes its dialog.
#include "tests/ui/harness/dialog_builder.h"

#include "platform/win32/wide.h"

namespace gui {

namespace {
constexpr uint16_t kButtonAtom = 0x80;
constexpr uint16_t kEditAtom = 0x81;
constexpr uint16_t kStaticAtom = 0x82;
}  // namespace

DialogBuilder::DialogBuilder(const std::string& caption, int x, int y, int width, int height) {
  PutDword(WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_SETFONT | WS_MINIMIZEBOX);
  PutDword(0);
  countAt_ = words_.size();
  PutWord(0);
  PutWord(static_cast<uint16_t>(x));
  PutWord(static_cast<uint16_t>(y));
  PutWord(static_cast<uint16_t>(width));
  PutWord(static_cast<uint16_t>(height));
  PutWord(0);  // no menu
  PutWord(0);  // the standard dialog class
  PutText(caption);
  PutWord(8);
  PutText("MS Sans Serif");
}

DialogBuilder& DialogBuilder::Edit(int id, int x, int y, int width, int height, DWORD style, DWORD exStyle) {
  Control(id, kEditAtom, "", style, exStyle, x, y, width, height);
  return *this;
}

DialogBuilder& DialogBuilder::Button(int id, const std::string& text, int x, int y, int width, int height) {
  Control(id, kButtonAtom, text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, x, y, width, height);
  return *this;
}

DialogBuilder& DialogBuilder::Static(int id, const std::string& text, int x, int y, int width, int height) {
  Control(id, kStaticAtom, text, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, x, y, width, height);
  return *this;
}

void DialogBuilder::Control(int id, uint16_t classAtom, const std::string& text, DWORD style, DWORD exStyle, int x,
                            int y, int width, int height) {
  Align();
  PutDword(style);
  PutDword(exStyle);
  PutWord(static_cast<uint16_t>(x));
  PutWord(static_cast<uint16_t>(y));
  PutWord(static_cast<uint16_t>(width));
  PutWord(static_cast<uint16_t>(height));
  PutWord(static_cast<uint16_t>(id));
  PutWord(0xFFFF);
  PutWord(classAtom);
  PutText(text);
  PutWord(0);  // no creation data
  words_[countAt_] = static_cast<uint16_t>(++count_);
}

void DialogBuilder::Align() {
  if (words_.size() % 2 != 0) words_.push_back(0);
}

void DialogBuilder::PutWord(uint16_t value) { words_.push_back(value); }

void DialogBuilder::PutDword(uint32_t value) {
  PutWord(static_cast<uint16_t>(value));
  PutWord(static_cast<uint16_t>(value >> 16));
}

void DialogBuilder::PutText(const std::string& text) {
  for (const wchar_t unit : Wide(text.c_str())) PutWord(static_cast<uint16_t>(unit));
  PutWord(0);
}

const DLGTEMPLATE* DialogBuilder::Template() { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

HWND DialogBuilder::Create(DLGPROC procedure, LPARAM initParam) {
  return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), Template(), nullptr, procedure, initParam);
}

INT_PTR DialogBuilder::Run(DLGPROC procedure, LPARAM initParam) {
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), Template(), nullptr, procedure, initParam);
}

}  // namespace gui
