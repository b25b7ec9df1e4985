// The dialog's words for what an operation did: the boxes, with their captions, texts and
// icons, in which the dialog shows a stop, identical copies, a stopped work and a repair whose
// result still differs from the valid file.
#pragma once

#include <string>

#include <windows.h>

#include "core/outcome.h"
#include "ui/program_state.h"

// Shows the box of an outcome that is not plainly done, owned by the dialog. A failed call: an
// error box whose caption names the step and whose text is the system's description of the
// cause; a condition the program found itself, or identical copies: the program's own text and
// caption; a stop on request: what it left behind; an output in place whose folder was not
// flushed: a warning with the system's text; a result that still differs: a warning with the
// first ranges, why the checksums missed them and the follow-up to send. Nothing for the rest
// of Done, whose box the dialog shows itself.
void ShowOutcomeBox(HWND dialog, WorkMode mode, const Outcome& outcome);

// What a done task says after "Done.", in a paragraph of its own: a valid copy that differs in
// more than a quarter (*warning set), a repair that replaced that much, or one that found every
// block in place already. Empty for none.
std::string DoneNote(WorkMode mode, const Outcome& outcome, bool* warning);
