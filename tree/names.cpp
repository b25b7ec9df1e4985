// Checking, splitting and comparing names of trees.
#include "tree/names.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace {

// The code point at text[*at], advancing *at past it; false for bytes that are not UTF-8
// (overlong forms, surrogates and values above U+10FFFF included).
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

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | c >> 18);
    *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Upper case to lower case in the alphabets FoldCase names.
uint32_t LowerCase(uint32_t c) {
  const auto pair = [c](uint32_t from, uint32_t to, uint32_t firstUpper) {
    return c >= from && c <= to && (c - firstUpper) % 2 == 0;
  };
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c < 0xC0) return c;
  if (c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (pair(0x100, 0x12F, 0x100) || pair(0x132, 0x137, 0x132) || pair(0x139, 0x148, 0x139) || pair(0x14A, 0x177, 0x14A) ||
      pair(0x179, 0x17E, 0x179)) {
    return c + 1;
  }
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (pair(0x460, 0x481, 0x460) || pair(0x48A, 0x4BF, 0x48A) || pair(0x4C1, 0x4CE, 0x4C1) || pair(0x4D0, 0x52F, 0x4D0)) {
    return c + 1;
  }
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x531 && c <= 0x556) return c + 0x30;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;
  return c;
}

bool SameLettersIgnoringCase(std::string_view a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 0x20) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

// A device name in every folder of Windows, with any extension: the stem ends at the first
// dot or space.
bool IsReservedName(std::string_view name) {
  const std::string_view stem = name.substr(0, name.find_first_of(". "));
  for (const char* reserved : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (SameLettersIgnoringCase(stem, reserved)) return true;
  }
  if (stem.size() < 4) return false;
  const bool port = SameLettersIgnoringCase(stem.substr(0, 3), "COM") || SameLettersIgnoringCase(stem.substr(0, 3), "LPT");
  if (!port) return false;
  const std::string_view number = stem.substr(3);
  // A digit 1 to 9, or the superscripts one, two and three, which Windows takes as digits here.
  return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" || number == "\xC2\xB2" ||
         number == "\xC2\xB3";
}

}  // namespace

NameRules PortableNameRules() { return NameRules{}; }

NameRules SystemNameRules(uint64_t rootPathUnits) {
  const NameLimits limits = FileSystemNameLimits();
  NameRules rules;
  rules.windowsNames = limits.windowsNames;
  rules.ignoresCase = limits.ignoresCase;
  rules.utf16Units = limits.utf16Units;
  rules.longestComponent = limits.longestComponent;
  // The folder's own path, a separator, then the relative path.
  rules.longestPath = limits.longestPath > rootPathUnits + 1 ? limits.longestPath - rootPathUnits - 1 : 1;
  return rules;
}

NameRules OtherSideNameRules(bool windowsNames) {
  NameRules rules;
  rules.windowsNames = windowsNames;
  rules.ignoresCase = windowsNames;
  return rules;
}

uint64_t NameUnits(std::string_view text, const NameRules& rules) {
  if (!rules.utf16Units) return text.size();
  uint64_t units = 0;
  for (size_t at = 0; at < text.size();) {
    uint32_t code;
    if (!NextCodePoint(text, &at, &code)) return UINT64_MAX;
    units += code >= 0x10000 ? 2 : 1;
  }
  return units;
}

NameFault CheckComponent(std::string_view name, const NameRules& rules) {
  if (name.empty()) return NameFault::Empty;
  if (name == "." || name == "..") return NameFault::DotComponent;
  for (const char c : name) {
    if (c == '\\') return NameFault::Backslash;
    if (c == ':') return NameFault::Colon;
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) return NameFault::ControlCharacter;
    // A '/' cannot be in a listed name; in a path it has split the components already.
    if (c == '/') return NameFault::Empty;
  }
  for (size_t at = 0; at < name.size();) {
    uint32_t code;
    if (!NextCodePoint(name, &at, &code)) return NameFault::NotUtf8;
  }
  if (rules.windowsNames) {
    if (name.find_first_of("<>\"|?*") != std::string_view::npos) return NameFault::ForbiddenCharacter;
    if (IsReservedName(name)) return NameFault::ReservedName;
    if (name.back() == '.' || name.back() == ' ') return NameFault::TrailingDotOrSpace;
  }
  if (rules.longestComponent != 0 && NameUnits(name, rules) > rules.longestComponent) return NameFault::TooLong;
  return NameFault::None;
}

NameFault ParseTreePath(std::string_view text, const NameRules& rules, TreePath* path) {
  path->components.clear();
  if (text.empty()) return NameFault::Empty;
  if (text.front() == '/') return NameFault::Absolute;
  for (size_t start = 0;;) {
    const size_t end = text.find('/', start);
    const std::string_view component = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const NameFault fault = CheckComponent(component, rules);
    if (fault != NameFault::None) {
      path->components.clear();
      return fault;
    }
    path->components.push_back(component);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (rules.longestPath != 0 && NameUnits(text, rules) > rules.longestPath) {
    path->components.clear();
    return NameFault::TooLong;
  }
  return NameFault::None;
}

std::string FoldCase(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    uint32_t code;
    if (!NextCodePoint(text, &at, &code)) return std::string(text);
    AppendUtf8(&folded, LowerCase(code));
  }
  return folded;
}

int64_t FindCaseClash(const std::vector<std::string_view>& paths) {
  // Every path and every folder above it: "Photos" clashes with "photos/a.txt" too.
  struct Named {
    std::string folded;
    std::string_view raw;
    size_t path;
    bool operator<(const Named& other) const { return folded != other.folded ? folded < other.folded : raw < other.raw; }
  };
  std::vector<Named> names;
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t end = paths[i].find('/'); ; end = paths[i].find('/', end + 1)) {
      const std::string_view prefix = paths[i].substr(0, end);
      names.push_back(Named{FoldCase(prefix), prefix, i});
      if (end == std::string_view::npos) break;
    }
  }
  std::sort(names.begin(), names.end());
  for (size_t i = 1; i < names.size(); ++i) {
    if (names[i].folded == names[i - 1].folded && names[i].raw != names[i - 1].raw) return static_cast<int64_t>(names[i].path);
  }
  return -1;
}
