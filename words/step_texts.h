// What both programs call each step an operation can stop at: the step's member of the
// table's StepWords. The dialog shows it in its boxes; varnell-cli prints the same words, so
// that a message reads the same in both.
#pragma once

#include <string>

#include "core/outcome.h"
#include "words/words.h"

// A failed call's step: the caption of its error box, whose text is the system's description
// of the cause. A condition the program found itself (FoundByProgram): the box's text.
const char* StepMessage(Step step, const Words& words);
// The same in the words the program speaks.
const char* StepMessage(Step step);

// The words after the system's text when another program holds the file (systemError says
// so): heldBy with a holder's name, heldByAnother without; null otherwise.
const char* HeldFormat(uint32_t systemError, const std::string& holder);
