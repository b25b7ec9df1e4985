// The device names of Windows, compared code point by code point.
#include "core/windows_names.h"

#include <cstdint>
#include <cstring>

#include "core/utf8.h"

namespace {

bool SameLettersIgnoringCase(std::string_view a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 0x20) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

// The digits Windows takes after COM and LPT: 1 to 9, and the superscripts ¹ ² ³.
bool IsPortDigit(std::string_view text) {
  size_t at = 0;
  uint32_t code;
  if (!NextCodePoint(text, &at, &code) || at != text.size()) return false;
  return (code >= '1' && code <= '9') || code == 0xB9 || code == 0xB2 || code == 0xB3;
}

}  // namespace

bool IsReservedDeviceName(std::string_view name) {
  const std::string_view stem = name.substr(0, name.find_first_of(". "));
  for (const char* reserved : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (SameLettersIgnoringCase(stem, reserved)) return true;
  }
  if (stem.size() < 4) return false;
  const std::string_view port = stem.substr(0, 3);
  return (SameLettersIgnoringCase(port, "COM") || SameLettersIgnoringCase(port, "LPT")) && IsPortDigit(stem.substr(3));
}
