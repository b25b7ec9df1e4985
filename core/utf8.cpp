// Reading and writing UTF-8.
#include "core/utf8.h"

bool NextCodePoint(std::string_view text, size_t* at, uint32_t* code) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t first = byte(*at);
  uint32_t value;
  size_t length;
  if (first < 0x80) {
    *code = first;
    *at += 1;
    return true;
  } else if (first >= 0xC2 && first <= 0xDF) {
    value = first & 0x1F;
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    value = first & 0x0F;
    length = 3;
  } else if (first >= 0xF0 && first <= 0xF4) {
    value = first & 0x07;
    length = 4;
  } else {
    return false;
  }
  if (*at + length > text.size()) return false;
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = byte(*at + i);
    if ((next & 0xC0) != 0x80) return false;
    value = value << 6 | (next & 0x3F);
  }
  const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *code = value;
  *at += length;
  return true;
}

bool IsUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    uint32_t code;
    if (!NextCodePoint(text, &at, &code)) return false;
  }
  return true;
}

void AppendUtf8(std::string* out, uint32_t code) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | code >> 6);
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | code >> 12);
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | code >> 18);
    *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

namespace {

// The units of the letter at *at, advancing past it; a byte that is not UTF-8 is one.
size_t NextUnits(std::string_view text, size_t* at) {
  uint32_t code;
  if (!NextCodePoint(text, at, &code)) {
    ++*at;
    return 1;
  }
  return code >= 0x10000 ? 2 : 1;
}

}  // namespace

size_t Utf16Length(std::string_view text) {
  size_t units = 0;
  for (size_t at = 0; at < text.size();) units += NextUnits(text, &at);
  return units;
}

size_t Utf8BytesWithin(std::string_view text, size_t units) {
  size_t at = 0;
  for (size_t taken = 0; at < text.size();) {
    size_t next = at;
    taken += NextUnits(text, &next);
    if (taken > units) break;
    at = next;
  }
  return at;
}
