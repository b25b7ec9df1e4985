// Checking, splitting and comparing names of trees.
#include "tree/names.h"

#include <algorithm>

#include "core/utf8.h"
#include "core/windows_names.h"
#include "platform/platform.h"

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

std::string CaseKey(std::string_view text) {
  std::string key;
  key.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    uint32_t code;
    if (!NextCodePoint(text, &at, &code)) return std::string(text);
    // A letter beyond the first 65536 is two surrogate units, which keep their case.
    AppendUtf8(&key, code < 0x10000 ? UpcaseNameUnit(static_cast<uint16_t>(code)) : code);
  }
  return key;
}

int64_t FindCaseClash(const std::vector<std::string_view>& paths) {
  // Every path and every folder above it: "Photos" clashes with "photos/a.txt" too.
  struct Named {
    std::string key;
    std::string_view raw;
    size_t path;
    bool operator<(const Named& other) const { return key != other.key ? key < other.key : raw < other.raw; }
  };
  std::vector<Named> names;
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t end = paths[i].find('/'); ; end = paths[i].find('/', end + 1)) {
      const std::string_view prefix = paths[i].substr(0, end);
      names.push_back(Named{CaseKey(prefix), prefix, i});
      if (end == std::string_view::npos) break;
    }
  }
  std::sort(names.begin(), names.end());
  for (size_t i = 1; i < names.size(); ++i) {
    if (names[i].key == names[i - 1].key && names[i].raw != names[i - 1].raw) return static_cast<int64_t>(names[i].path);
  }
  return -1;
}
