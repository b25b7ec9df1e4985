// The language varnell-cli speaks in, as each system names its user's (cli/posix, cli/win32;
// the build picks one).
#pragma once

#include "words/words.h"

// The table of the user's language: on Windows by the display language, whatever LANG says;
// elsewhere by LC_ALL, LC_MESSAGES and LANG. Also makes the system's own texts UTF-8, as the
// program's are, whatever the locale's codeset. Call after setlocale.
const Words& UserWords();
