// The one way from a name in an exchange file to a path in a tree. A name comes from someone
// else: it is refused, never rewritten, when it could reach outside the folder, name a
// device, mean something else on this system or not fit it, before anything is written.
// Names are UTF-8 with '/' between components, relative to the tree's own folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Why a name is refused. The order is the order of the checks.
enum class NameFault : uint8_t {
  None,
  Empty,               // an empty name, or an empty component ("a//b", "a/")
  Absolute,            // begins with '/', which "//server/share" does too
  DotComponent,        // a component "." or ".."
  Backslash,           // '\' in a component: "\\?\", "\\server", "a\..\b"
  Colon,               // ':' in a component: "C:", "a:stream"
  ControlCharacter,    // a byte from 0 to 31, or 127
  NotUtf8,
  ForbiddenCharacter,  // with Windows' names: < > " | ? *
  ReservedName,        // with Windows' names: CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with any extension
  TrailingDotOrSpace,  // with Windows' names
  TooLong,             // a component or the whole path longer than the system takes
  CaseClash,           // two names that differ only in letter case, where the file system ignores case
};

struct NameRules {
  bool windowsNames = false;
  bool ignoresCase = false;
  bool utf16Units = false;            // lengths in UTF-16 units rather than bytes
  uint32_t longestComponent = 0;      // 0: no limit
  uint64_t longestPath = 0;           // of the relative path; 0: no limit
};

// The checks every name passes on every system: what the format can carry.
NameRules PortableNameRules();
// The checks of this system's file systems for a tree whose own folder's path is
// rootPathUnits long (in the limits' units).
NameRules SystemNameRules(uint64_t rootPathUnits);
// The checks of the other side's system as its test file states it (Windows' names, case
// ignored) on top of the portable ones.
NameRules OtherSideNameRules(bool windowsNames);

// A relative path taken apart: each component a view into the text it was parsed from.
struct TreePath {
  std::vector<std::string_view> components;
};

// Checks a whole path and splits it into components; on a fault, path is left empty.
NameFault ParseTreePath(std::string_view text, const NameRules& rules, TreePath* path);

// Checks one component (a name listed in a folder).
NameFault CheckComponent(std::string_view name, const NameRules& rules);

// How long a text is in the rules' units.
uint64_t NameUnits(std::string_view text, const NameRules& rules);

// The name as NTFS compares names, each UTF-16 unit in its upper case (platform.h:
// UpcaseNameUnit), one unit for one, without normalizing: two names that a file system which
// ignores case takes for one have the same key. The text must be valid UTF-8.
std::string CaseKey(std::string_view text);

// Of paths (each valid UTF-8), the index of one that differs from another only in letter
// case (the same CaseKey), itself or in a folder above it, or -1 when there is none. The same
// path twice is no clash.
int64_t FindCaseClash(const std::vector<std::string_view>& paths);
