// The POSIX locale variables name the language; the system's texts are asked for in UTF-8.
#include <libintl.h>

#include <cstdlib>

#include "cli/language.h"

const Words& UserWords() {
  // strerror's texts come from the C library's catalogue, in the locale's codeset unless told
  // otherwise: a KOI8-R locale would put KOI8-R among the UTF-8 words.
  bind_textdomain_codeset("libc", "UTF-8");
  return WordsForLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}
