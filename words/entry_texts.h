// The words both programs use for what happened to the entries of a folder, from the table
// in use (EntryWords in words/words.h): the event's format, why an entry was skipped, and why
// a name was refused.
#pragma once

#include <string>

#include "tree/outcome.h"

const char* NameFaultText(NameFault fault);

// The event's format (one %s, and %llu first where it has a number).
const char* EventFormat(const EntryReport& entry);

// Why a skipped entry was skipped, in one line: the reason's words, with the fault's words
// or the system's text where they belong (systemText: the system's text for the entry's
// error, already in the program's encoding; ignored where it does not belong).
std::string SkipReasonText(const EntryReport& entry, const char* systemText);
