// Windows names the user's language once, for every program: the display language. LANG,
// which some shells set, is not Windows' and is not read.
#include <windows.h>

#include "cli/language.h"

const Words& UserWords() { return WordsForWindowsLanguage(GetUserDefaultUILanguage()); }
