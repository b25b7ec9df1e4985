// What both programs call each step an operation can stop at, and the words of the outcomes
// they share, in the program's Russian, UTF-8 in both builds. The dialog shows them in its
// boxes; varnell-cli prints the same words, so that a message reads the same in both.
#pragma once

#include <string>

#include "core/outcome.h"

namespace step_text {

// The caption of the box of a condition the program found itself; its text is the step's.
inline constexpr char kUnforeseen[] = "Возникла ситуация не предусмотренная логикой программы";
// Identical copies: text and caption.
inline constexpr char kIdentical[] = "Содержимое битого и оригинального файла оказалось идентичным.";
inline constexpr char kAttention[] = "Внимание";
// A repair refused before its first write: the broken file is not the one its repair file was
// made for, or has changed since its test file was made.
inline constexpr char kOtherFile[] =
    "Ремонтный файл составлен для другого файла, или битый файл изменился после того, как был сделан его "
    "контрольный файл. Битый файл не изменён; сделайте новый контрольный файл";
// After the system's text of a file another program holds open (the program's name as %s,
// where the system can tell which), for a stop and for a folder's entry alike.
inline constexpr char kHeldBy[] = "Файл открыт в программе «%s»: закройте её и запустите операцию ещё раз.";
inline constexpr char kHeldByAnother[] = "Файл открыт в другой программе: закройте её и запустите операцию ещё раз.";

}  // namespace step_text

// A failed call's step: the caption of its error box, whose text is the system's description
// of the cause. A condition the program found itself (FoundByProgram): the box's text.
const char* StepMessage(Step step);

// The words after the system's text when another program holds the file (systemError says
// so): kHeldBy with a holder's name, kHeldByAnother without; null otherwise.
const char* HeldFormat(uint32_t systemError, const std::string& holder);
