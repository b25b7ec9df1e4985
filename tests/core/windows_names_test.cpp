// The one rule of Windows' device names, which both the folder names and the dialog's paths
// pass through.
#include <gtest/gtest.h>

#include "core/windows_names.h"

namespace {

TEST(WindowsNamesTest, DeviceNamesWithAnyExtensionAndCaseAndTheSuperscriptPorts) {
  const struct {
    const char* name;
    bool reserved;
  } cases[] = {
      {"CON", true},        {"con.txt", true},           {"Nul .log", true},      {"aux", true},
      {"PRN.crc", true},    {"CONIN$", true},            {"conout$.fix", true},   {"COM1", true},
      {"lpt9.bin", true},   {"COM\xC2\xB9", true},       {"lpt\xC2\xB2.txt", true}, {"Com\xC2\xB3", true},
      {"COM0", false},      {"COM10", false},            {"LPT", false},          {"CONSOLE", false},
      {"nul1.bin", false},  {"x.CON", false},            {"", false},             {"COM\xE2\x81\xB4", false},  // superscript four
      {"COM\xB9", false},   // not UTF-8
      {"CO\xD0\x9C" "1", false},  // a Cyrillic М that looks like M
  };
  for (const auto& c : cases) EXPECT_EQ(IsReservedDeviceName(c.name), c.reserved) << c.name;
}

}  // namespace
