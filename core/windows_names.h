// Names that Windows takes for a device in every folder, whatever their extension: the one rule,
// for the names a folder repair file brings and for the paths the dialog is given.
#pragma once

#include <string_view>

// Whether a name (one component, UTF-8) is CON, PRN, AUX, NUL, CONIN$, CONOUT$, or COM or LPT
// with a digit 1 to 9 or a superscript one, two or three, in any letter case; the stem ends at
// the first dot or space ("nul.txt", "COM¹ .log"). A name that is not UTF-8 is none of them.
bool IsReservedDeviceName(std::string_view name);
