// The words both programs use for what happened to the entries of a folder, from the table
// in use (EntryWords in words/words.h): the event's format, why an entry was skipped, and why
// a name was refused.
#pragma once

#include <string>

#include "tree/outcome.h"
#include "words/words.h"

const char* NameFaultText(NameFault fault, const Words& words = CurrentWords());

// The event's format (one %s, and %llu first where it has a number).
const char* EventFormat(const EntryReport& entry);

// Why a skipped entry was skipped, in one line: the reason's words, with the fault's words
// or the system's text where they belong (systemText: the system's text for the entry's
// error, already in the program's encoding; ignored where it does not belong).
// words: the table to take them from (--json's reason keeps one language whatever the locale).
std::string SkipReasonText(const EntryReport& entry, const char* systemText, const Words& words = CurrentWords());
