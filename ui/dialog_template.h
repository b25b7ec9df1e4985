// The main dialog's template as this system can show it. The template names "MS Sans Serif" for
// the default character set, which the system takes to be its own code page's: on a Windows
// whose code page is not Cyrillic that font has no Russian letters, and every label would be
// drawn as boxes. There the dialog is made from a copy of the template that names the font the
// system itself gives for "MS Sans Serif" in Cyrillic (on Windows "Microsoft Sans Serif", drawn
// to the same measure). On a Cyrillic Windows the template is used as it is.
#pragma once

#include <windows.h>

// The template the dialog is made from (DialogBoxIndirectParamW); null when the resource cannot
// be had, and the dialog cannot be made.
const DLGTEMPLATE* MainDialogTemplate(HINSTANCE instance);
