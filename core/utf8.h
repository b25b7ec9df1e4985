// UTF-8, the one encoding of names and texts inside the program: reading a text code point by
// code point, writing code points back, and the UTF-16 that Windows' wide calls take and give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The code point at text[*at], advancing *at past it; false for bytes that are not UTF-8
// (overlong forms, surrogates and values above U+10FFFF included), leaving *at where it was.
bool NextCodePoint(std::string_view text, size_t* at, uint32_t* code);

// Whether the whole text is UTF-8.
bool IsUtf8(std::string_view text);

// Appends the code point's UTF-8 bytes. A surrogate is written as its own three bytes, which no
// reader takes for UTF-8: a UTF-16 name with a lone surrogate becomes a name that is refused.
void AppendUtf8(std::string* out, uint32_t code);

// The UTF-16 units of a text, unit by unit; a lone surrogate is kept as AppendUtf8 writes it, so
// that a name is never turned into another one. Unit is wchar_t on Windows.
template <typename Unit>
std::string Utf8FromUtf16(const Unit* units, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t code = static_cast<uint16_t>(units[i]);
    const uint32_t next = i + 1 < count ? static_cast<uint16_t>(units[i + 1]) : 0;
    if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    }
    AppendUtf8(&out, code);
  }
  return out;
}

// The text in UTF-16 units, appended to out (a std::basic_string, or any container with
// size, resize and push_back of its value_type). Bytes that are not UTF-8 refuse the whole text
// (false, out as it was) when strict, for a name; otherwise each becomes U+FFFD, for a text
// that is only shown.
template <typename Out>
bool AppendUtf16(std::string_view text, Out* out, bool strict) {
  using Unit = typename Out::value_type;
  const size_t start = out->size();
  for (size_t at = 0; at < text.size();) {
    uint32_t code;
    if (!NextCodePoint(text, &at, &code)) {
      if (strict) {
        out->resize(start);
        return false;
      }
      code = 0xFFFD;
      ++at;
    }
    if (code >= 0x10000) {
      out->push_back(static_cast<Unit>(0xD800 + ((code - 0x10000) >> 10)));
      out->push_back(static_cast<Unit>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<Unit>(code));
    }
  }
  return true;
}

// How many UTF-16 units the text takes, which is how Windows and its fields measure a path;
// a byte that is not UTF-8 counts as one.
size_t Utf16Length(std::string_view text);
// The bytes of the longest start of the text that takes at most units UTF-16 units: a cut
// between letters, never inside one.
size_t Utf8BytesWithin(std::string_view text, size_t units);
