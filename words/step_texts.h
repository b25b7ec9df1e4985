// What both programs call each step an operation can stop at, and the words of the outcomes
// they share, in the program's Russian, UTF-8 in both builds. The dialog shows them in its
// boxes; varnell-cli prints the same words, so that a message reads the same in both.
#pragma once

#include "core/outcome.h"

namespace step_text {

// The caption of the box of a condition the program found itself; its text is the step's.
inline constexpr char kUnforeseen[] = "Возникла ситуация не предусмотренная логикой программы";
// Identical copies: text and caption.
inline constexpr char kIdentical[] = "Содержимое битого и оригинального файла оказалось идентичным.";
inline constexpr char kAttention[] = "Внимание";

}  // namespace step_text

// A failed call's step: the caption of its error box, whose text is the system's description
// of the cause. A condition the program found itself (FoundByProgram): the box's text.
const char* StepMessage(Step step);
