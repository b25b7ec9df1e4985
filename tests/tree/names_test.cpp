// The names of exchange files: every class of bad name refused under the rules it belongs
// to, good names (Cyrillic among them) taken and split, and names compared as NTFS compares
// them, one UTF-16 unit for one.
#include <gtest/gtest.h>

#include <string>

#include "tree/names.h"

namespace {

// Names are UTF-8 in every build, as the u8 literals say outright.
std::string U8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

struct NameCase {
  std::string path;
  NameFault portable;  // on every system
  NameFault windows;   // with Windows' names and a 255-unit component
};

NameRules WindowsRules() {
  NameRules rules;
  rules.windowsNames = true;
  rules.ignoresCase = true;
  rules.utf16Units = true;
  rules.longestComponent = 255;
  return rules;
}

TEST(NamesTest, EveryClassOfBadNameIsRefusedUnderItsRules) {
  const NameCase cases[] = {
      {"", NameFault::Empty, NameFault::Empty},
      {"a//b", NameFault::Empty, NameFault::Empty},
      {"a/", NameFault::Empty, NameFault::Empty},
      {"/etc/passwd", NameFault::Absolute, NameFault::Absolute},
      {"//server/share/x", NameFault::Absolute, NameFault::Absolute},
      {"..", NameFault::DotComponent, NameFault::DotComponent},
      {"a/../../x", NameFault::DotComponent, NameFault::DotComponent},
      {"a/./b", NameFault::DotComponent, NameFault::DotComponent},
      {"a\\..\\b", NameFault::Backslash, NameFault::Backslash},
      {"\\\\?\\C:\\x", NameFault::Backslash, NameFault::Backslash},
      {"\\\\server\\share", NameFault::Backslash, NameFault::Backslash},
      {"C:x", NameFault::Colon, NameFault::Colon},
      {"C:/Windows", NameFault::Colon, NameFault::Colon},
      {"file:stream", NameFault::Colon, NameFault::Colon},
      {"a\x01" "b", NameFault::ControlCharacter, NameFault::ControlCharacter},
      {std::string("a\0b", 3), NameFault::ControlCharacter, NameFault::ControlCharacter},
      {"a\x7F", NameFault::ControlCharacter, NameFault::ControlCharacter},
      {"\xFF\xFE", NameFault::NotUtf8, NameFault::NotUtf8},
      {"\xC0\xAF..", NameFault::NotUtf8, NameFault::NotUtf8},  // an overlong '/'
      {"\xED\xA0\x80", NameFault::NotUtf8, NameFault::NotUtf8},  // a surrogate
      {"what?.txt", NameFault::None, NameFault::ForbiddenCharacter},
      {"a|b", NameFault::None, NameFault::ForbiddenCharacter},
      {"CON", NameFault::None, NameFault::ReservedName},
      {"docs/nul.txt", NameFault::None, NameFault::ReservedName},
      {"Com1.log", NameFault::None, NameFault::ReservedName},
      {"lpt9", NameFault::None, NameFault::ReservedName},
      {"COM\xC2\xB9", NameFault::None, NameFault::ReservedName},
      {"conin$", NameFault::None, NameFault::ReservedName},
      {"a.", NameFault::None, NameFault::TrailingDotOrSpace},
      {"dir /x", NameFault::None, NameFault::TrailingDotOrSpace},
      {std::string(256, 'a'), NameFault::None, NameFault::TooLong},
      {std::string(128, 'a') + std::string(128, 'a'), NameFault::None, NameFault::TooLong},
      // Good names.
      {U8(u8"photos/лето.jpg"), NameFault::None, NameFault::None},
      {".hidden/..dots/x", NameFault::None, NameFault::None},
      {"CONSOLE/COM0/aux1", NameFault::None, NameFault::None},
      {std::string(255, 'a'), NameFault::None, NameFault::None},
      {std::string(127, 'z') + "\xF0\x9F\x98\x80", NameFault::None, NameFault::None},  // 129 units
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.path);
    TreePath path;
    EXPECT_EQ(ParseTreePath(c.path, PortableNameRules(), &path), c.portable);
    EXPECT_EQ(ParseTreePath(c.path, WindowsRules(), &path), c.windows);
    EXPECT_EQ(path.components.empty(), c.windows != NameFault::None);
  }
}

TEST(NamesTest, AGoodPathIsSplitIntoItsNames) {
  const std::string text = U8(u8"фото/2024/лето.jpg"), first = U8(u8"фото"), last = U8(u8"лето.jpg");
  TreePath path;
  ASSERT_EQ(ParseTreePath(text, PortableNameRules(), &path), NameFault::None);
  EXPECT_EQ(path.components, (std::vector<std::string_view>{first, "2024", last}));
}

TEST(NamesTest, AWholePathLongerThanTheSystemTakesIsRefused) {
  NameRules rules = PortableNameRules();
  rules.longestPath = 9;
  TreePath path;
  EXPECT_EQ(ParseTreePath("abcd/efgh", rules, &path), NameFault::None);
  EXPECT_EQ(ParseTreePath("abcd/efghi", rules, &path), NameFault::TooLong);
}

TEST(NamesTest, NamesThatDifferOnlyInLetterCaseClash) {
  const struct {
    std::vector<std::string> paths;
    bool clash;
  } cases[] = {
      {{"Photos/a.JPG", "photos/A.jpg"}, true},
      {{"Photos", "photos/a.txt"}, true},  // a folder above the other
      {{U8(u8"Ёлка/Зима"), U8(u8"ёЛКА/зИМА")}, true},
      {{U8(u8"Ωμέγα"), U8(u8"ΩΜΈΓΑ")}, true},
      {{U8(u8"ÀÉÎ"), U8(u8"àéî"), "x"}, true},
      {{U8(u8"Ảnh.txt"), U8(u8"ảnh.txt")}, true},     // Latin Extended Additional
      {{U8(u8"Ⓐ"), U8(u8"ⓐ")}, true},                 // circled letters
      {{U8(u8"ǅ"), U8(u8"ǆ")}, false},                 // a title-case digraph is a letter of its own
      {{"a", "b", "a"}, false},         // the same path twice is no clash
      {{"a", "a/b", "a/c"}, false},
      {{U8(u8"straße"), "STRASSE"}, false},   // not one letter for one
      {{"a1", "a2", "A3"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.paths[0]);
    EXPECT_EQ(FindCaseClash(std::vector<std::string_view>(c.paths.begin(), c.paths.end())) >= 0, c.clash);
  }
}

}  // namespace
