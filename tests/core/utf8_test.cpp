// The one codec between the program's UTF-8 and the UTF-16 of Windows' wide calls: a name goes
// across whole or not at all, never as a look-alike.
#include <gtest/gtest.h>

#include <string>

#include "core/utf8.h"

namespace {

TEST(Utf8Test, NamesCrossToUtf16AndBackWholeOrNotAtAll) {
  const struct {
    std::u16string utf16;
    std::string utf8;
  } cases[] = {
      {u"Café.txt", "Caf\xC3\xA9.txt"},
      {u"表.txt", "\xE8\xA1\xA8.txt"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},  // a pair of surrogates: one letter of four bytes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8FromUtf16(c.utf16.data(), c.utf16.size()), c.utf8);
    std::u16string back;
    ASSERT_TRUE(AppendUtf16(c.utf8, &back, true));
    EXPECT_EQ(back, c.utf16);
    EXPECT_EQ(Utf16Length(c.utf8), c.utf16.size());
  }
  // A lone surrogate keeps bytes of its own, which no strict reading takes for a name...
  const std::u16string lone = u"a\xD800.txt";
  const std::string kept = Utf8FromUtf16(lone.data(), lone.size());
  EXPECT_EQ(kept, "a\xED\xA0\x80.txt");
  std::u16string refused = u"x";
  EXPECT_FALSE(AppendUtf16(kept, &refused, true));
  EXPECT_EQ(refused, u"x");
  // ...while a text only shown gets U+FFFD for each byte that is not UTF-8.
  std::u16string shown;
  EXPECT_TRUE(AppendUtf16("a\xFF" "b", &shown, false));
  EXPECT_EQ(shown, u"a\xFFFD" "b");
}

TEST(Utf8Test, APathIsCutBetweenLettersAtItsUnits) {
  const std::string path = "C:\\\xE8\xA1\xA8\xF0\x9F\x98\x80z";  // C:\ 表 😀 z: 3 + 1 + 2 + 1 units
  EXPECT_EQ(Utf8BytesWithin(path, 7), path.size());
  EXPECT_EQ(Utf8BytesWithin(path, 6), path.size() - 1);
  EXPECT_EQ(Utf8BytesWithin(path, 5), 6u) << "the pair of surrogates is never split";
  EXPECT_EQ(Utf8BytesWithin(path, 3), 3u);
}

}  // namespace
