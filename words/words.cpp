// Choosing a table: the languages there are, the one in use, and the rules by which each
// system names its user's language.
#include "words/words.h"

#include <cstring>

namespace {

// Every table; a locale or display language that none is for gets English.
const Words* const kLanguages[] = {&kRussian, &kEnglish};

const Words* current = &kRussian;

}  // namespace

std::span<const Words* const> EveryLanguage() { return kLanguages; }

const Words& CurrentWords() { return *current; }

void UseWords(const Words& words) { current = &words; }

const Words& WordsForLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  const char* name = nullptr;
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value != nullptr && value[0] != '\0') {
      name = value;
      break;
    }
  }
  if (name == nullptr) return kEnglish;
  // The language is what comes before the territory, the codeset or the modifier:
  // "ru" of "ru", "ru_RU", "ru_RU.UTF-8", "ru@latin".
  const size_t length = std::strcspn(name, "_.@");
  for (const Words* words : kLanguages) {
    if (std::strlen(words->codes.locale) == length && std::strncmp(name, words->codes.locale, length) == 0)
      return *words;
  }
  return kEnglish;
}

const Words& WordsForWindowsLanguage(unsigned short languageId) {
  // PRIMARYLANGID: the low ten bits.
  const unsigned short primary = languageId & 0x3FF;
  for (const Words* words : kLanguages) {
    if (words->codes.windows == primary) return *words;
  }
  return kEnglish;
}
