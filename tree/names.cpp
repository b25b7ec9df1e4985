// Checking, splitting and comparing names of trees.
#include "tree/names.h"

#include <algorithm>

#include "core/utf8.h"
#include "core/windows_names.h"
#include "platform/platform.h"

namespace {

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
  if (!IsUtf8(name)) return NameFault::NotUtf8;
  if (rules.windowsNames) {
    if (name.find_first_of("<>\"|?*") != std::string_view::npos) return NameFault::ForbiddenCharacter;
    if (IsReservedDeviceName(name)) return NameFault::ReservedName;
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
