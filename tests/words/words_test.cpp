// Which table each system's language gets, and that the tables say the same things: every
// text of each language there (the build makes sure of that, words_incomplete_table checks the
// build does), none empty, and every format with the same values in the same order, which
// printf would otherwise read wrongly.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string>
#include <vector>

#include "words/words.h"

namespace {

struct LocaleCase {
  const char* lcAll;
  const char* lcMessages;
  const char* lang;
  const Words* expected;
};

TEST(WordsTest, ThePosixLocaleChoosesByLcAllThenLcMessagesThenLang) {
  const LocaleCase cases[] = {
      {nullptr, nullptr, "ru_RU.UTF-8", &kRussian},
      {nullptr, nullptr, "ru_UA.KOI8-U", &kRussian},
      {nullptr, nullptr, "C", &kEnglish},
      {nullptr, nullptr, "C.UTF-8", &kEnglish},
      {nullptr, nullptr, "en_US.UTF-8", &kEnglish},
      {nullptr, nullptr, "rue_UA", &kEnglish},  // Rusyn, not Russian
      {nullptr, nullptr, nullptr, &kEnglish},
      {"", "", "", &kEnglish},
      {"C", "ru_RU.UTF-8", "ru_RU.UTF-8", &kEnglish},
      {"", "ru_RU.UTF-8", "en_US.UTF-8", &kRussian},
      {"", "", "ru_RU.UTF-8", &kRussian},
  };
  for (const LocaleCase& c : cases) {
    EXPECT_EQ(&WordsForLocale(c.lcAll, c.lcMessages, c.lang), c.expected)
        << (c.lcAll ? c.lcAll : "(unset)") << " " << (c.lcMessages ? c.lcMessages : "(unset)") << " "
        << (c.lang ? c.lang : "(unset)");
  }
}

TEST(WordsTest, TheWindowsDisplayLanguageChoosesByItsPrimaryLanguage) {
  const struct {
    unsigned short languageId;
    const Words* expected;
  } cases[] = {
      {0x0419, &kRussian},  // Russian (Russia)
      {0x0819, &kRussian},  // Russian (Moldova)
      {0x0409, &kEnglish},  // English (United States)
      {0x0422, &kEnglish},  // Ukrainian
      {0x0000, &kEnglish},
  };
  for (const auto& c : cases) EXPECT_EQ(&WordsForWindowsLanguage(c.languageId), c.expected) << std::hex << c.languageId;
}

// A group of a table as its texts in order: a group is nothing but phrases, each one pointer.
template <typename Group>
auto Phrases(const Group& group) {
  static_assert(sizeof(Group) % sizeof(Phrase) == 0);
  return std::bit_cast<std::array<Phrase, sizeof(Group) / sizeof(Phrase)>>(group);
}

// The printf conversions of a text, in order ("%%" is none).
std::vector<std::string> Conversions(const char* text) {
  std::vector<std::string> found;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '%') continue;
    const char* start = p++;
    if (*p == '%') continue;
    while (*p != '\0' && std::string("-+ #0123456789.hlzjt").find(*p) != std::string::npos) ++p;
    if (*p == '\0') break;
    found.emplace_back(start, p + 1);
  }
  return found;
}

template <typename Group>
void ExpectTheSameFormats(const char* name, const Group& russian, const Group& english) {
  const auto ru = Phrases(russian);
  const auto en = Phrases(english);
  for (size_t i = 0; i < ru.size(); ++i) {
    EXPECT_NE(std::string(en[i]), "") << name << " text " << i << " is empty in English";
    EXPECT_NE(std::string(ru[i]), "") << name << " text " << i << " is empty in Russian";
    EXPECT_EQ(Conversions(en[i]), Conversions(ru[i])) << name << " text " << i << ": " << en[i] << " / " << ru[i];
  }
}

TEST(WordsTest, EveryTextOfEveryTableTakesTheSameValuesInTheSameOrderAsTheRussian) {
  ASSERT_EQ(EveryLanguage().front(), &kRussian);
  for (const Words* words : EveryLanguage().subspan(1)) {
    SCOPED_TRACE(words->codes.locale);
    ExpectTheSameFormats("window", kRussian.window, words->window);
    ExpectTheSameFormats("dialog", kRussian.dialog, words->dialog);
    ExpectTheSameFormats("shared", kRussian.shared, words->shared);
    ExpectTheSameFormats("steps", kRussian.steps, words->steps);
    ExpectTheSameFormats("entries", kRussian.entries, words->entries);
    ExpectTheSameFormats("cli", kRussian.cli, words->cli);
  }
}

}  // namespace
