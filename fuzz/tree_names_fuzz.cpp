// Fuzzing the one way from a name in an exchange file to a path.
//
// Input: one byte choosing the rules (even: every system's; odd: Windows' names, case
// ignored, 255-unit components), then the name. A name taken must be the components it was
// split into, joined again, and none of them may reach outside the folder, name a device or
// hold a byte a path must not hold; folding the letters' case must be stable and seen as a
// clash exactly when it changed the name.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "tree/names.h"

namespace {

bool IsDeviceStem(std::string stem) {
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$") return true;
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return -1;
  NameRules rules = PortableNameRules();
  const bool windows = (data[0] & 1) != 0;
  if (windows) {
    rules.windowsNames = true;
    rules.ignoresCase = true;
    rules.utf16Units = true;
    rules.longestComponent = 255;
  }
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  TreePath path;
  const NameFault fault = ParseTreePath(text, rules, &path);
  if (fault != NameFault::None) {
    Require(path.components.empty(), "a refused name left components behind");
    return 0;
  }
  std::string joined;
  for (const std::string_view component : path.components) {
    Require(!component.empty() && component != "." && component != "..", "a component that leaves its folder");
    for (const char c : component) {
      const auto byte = static_cast<uint8_t>(c);
      Require(byte >= 0x20 && byte != 0x7F && c != '/' && c != '\\' && c != ':', "a byte no path may hold");
    }
    if (windows) {
      Require(component.back() != '.' && component.back() != ' ', "a name Windows would cut");
      Require(!IsDeviceStem(std::string(component.substr(0, component.find_first_of(". ")))), "a device name");
      Require(component.find_first_of("<>\"|?*") == std::string_view::npos, "a wildcard or a pipe");
    }
    joined += (joined.empty() ? "" : "/") + std::string(component);
  }
  Require(joined == text, "the components are not the name");
  const std::string folded = CaseKey(text);
  Require(CaseKey(folded) == folded, "taking the case key twice changed the name again");
  const int64_t clash = FindCaseClash({text, folded});
  Require((clash >= 0) == (folded != text), "a clash of case seen wrongly");
  return 0;
}
