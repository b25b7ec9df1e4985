// The copy changes only the font: the layout is in dialog units and follows whichever font the
// dialog gets. (The dialog manager of Wine makes the font for the default character set whatever
// the template says, so the copy names the Cyrillic font itself.)
#include "ui/dialog_template.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "ui/control_ids.h"
#include "words/words.h"
#include "ui/window_text.h"

namespace {

// The font as the system maps a template's face and size for a character set, selected into
// the screen's device context until the object goes.
class MappedFont {
 public:
  MappedFont(const wchar_t* face, int pointSize, BYTE charset) : dc_(GetDC(nullptr)) {
    const int height = -MulDiv(pointSize, GetDeviceCaps(dc_, LOGPIXELSY), 72);
    font_ = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, charset, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
    old_ = SelectObject(dc_, font_);
  }
  ~MappedFont() {
    SelectObject(dc_, old_);
    DeleteObject(font_);
    ReleaseDC(nullptr, dc_);
  }
  MappedFont(const MappedFont&) = delete;
  MappedFont& operator=(const MappedFont&) = delete;

  // Whether it draws every letter of the dialog's words: a font of the Cyrillic code page has
  // them all; another may still have them (the Japanese ones do), or draw boxes.
  bool HasTheWords() const {
    if (GetTextCharset(dc_) == RUSSIAN_CHARSET) return true;
    const std::wstring words = Wide(kRussian.window.modeValidScan);
    std::vector<WORD> glyphs(words.size());
    if (GetGlyphIndicesW(dc_, words.c_str(), static_cast<int>(words.size()), glyphs.data(),
                         GGI_MARK_NONEXISTING_GLYPHS) != words.size()) {
      return false;
    }
    for (WORD glyph : glyphs) {
      if (glyph == 0xFFFF) return false;
    }
    return true;
  }

  std::wstring Face() const {
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc_, LF_FACESIZE, face);
    return face;
  }

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ old_;
};

// The offset behind a menu, class or title field (an ordinal or a zero-terminated string) at
// at, or 0 when it runs past the template's size bytes.
size_t SkipNameOrOrdinal(const uint8_t* bytes, size_t size, size_t at) {
  if (at + 2 > size) return 0;
  uint16_t unit;
  std::memcpy(&unit, bytes + at, 2);
  if (unit == 0xFFFF) return at + 4 <= size ? at + 4 : 0;
  for (; at + 2 <= size; at += 2) {
    std::memcpy(&unit, bytes + at, 2);
    if (unit == 0) return at + 2;
  }
  return 0;
}

}  // namespace

const DLGTEMPLATE* MainDialogTemplate(HINSTANCE instance) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDD_MAIN), reinterpret_cast<LPCWSTR>(RT_DIALOG));
  if (found == nullptr) return nullptr;
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(instance, found)));
  const size_t size = SizeofResource(instance, found);
  if (bytes == nullptr) return nullptr;
  const auto* resource = reinterpret_cast<const DLGTEMPLATE*>(bytes);

  // An extended template (DLGTEMPLATEEX) with a font: version 1, signature 0xFFFF, the header of
  // 26 bytes, the menu, the class and the title, then the font's size, weight, italic and
  // character set and its face. Any other is left to the dialog manager as it is.
  if (size < 26) return resource;
  uint16_t version = 0, signature = 0;
  uint32_t style = 0;
  std::memcpy(&version, bytes, 2);
  std::memcpy(&signature, bytes + 2, 2);
  std::memcpy(&style, bytes + 12, 4);
  if (version != 1 || signature != 0xFFFF || (style & DS_SETFONT) == 0) return resource;
  size_t at = 26;
  for (int field = 0; field < 3 && at != 0; ++field) at = SkipNameOrOrdinal(bytes, size, at);
  if (at == 0 || at + 8 > size) return resource;
  const size_t fontAt = at;
  uint16_t pointSize;
  std::memcpy(&pointSize, bytes + fontAt, 2);
  const size_t faceAt = fontAt + 6;
  const auto* face = reinterpret_cast<const wchar_t*>(bytes + faceAt);
  if (SkipNameOrOrdinal(bytes, size, faceAt) == 0) return resource;
  // As the dialog manager makes the font: the face, for the default character set.
  if (MappedFont(face, pointSize, DEFAULT_CHARSET).HasTheWords()) return resource;
  const MappedFont cyrillic(face, pointSize, RUSSIAN_CHARSET);
  if (!cyrillic.HasTheWords()) return resource;
  const std::wstring otherFace = cyrillic.Face();

  // The header up to the face, the other face, and the controls from their own DWORD boundary
  // on, moved by a multiple of four so that every record keeps its alignment.
  const size_t faceEnd = faceAt + (std::wcslen(face) + 1) * sizeof(wchar_t);
  const size_t itemsAt = (faceEnd + 3) & ~size_t{3};
  static std::vector<uint8_t> copy;
  copy.assign(bytes, bytes + faceAt);
  copy[fontAt + 5] = RUSSIAN_CHARSET;
  const auto* faceBytes = reinterpret_cast<const uint8_t*>(otherFace.c_str());
  copy.insert(copy.end(), faceBytes, faceBytes + (otherFace.size() + 1) * sizeof(wchar_t));
  copy.resize((copy.size() + 3) & ~size_t{3}, 0);
  if (itemsAt < size) copy.insert(copy.end(), bytes + itemsAt, bytes + size);
  // The vector's storage is aligned well beyond the DWORD the template needs.
  return reinterpret_cast<const DLGTEMPLATE*>(copy.data());
}
