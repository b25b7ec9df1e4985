// Questions about a folder operation's outcome.
#include "tree/outcome.h"

bool AnySkipped(const TreeOutcome& result) {
  for (const EntryReport& entry : result.entries) {
    if (entry.event == EntryEvent::Skipped) return true;
  }
  return false;
}

bool AnyNotScanned(const TreeOutcome& result) {
  for (const EntryReport& entry : result.entries) {
    if (entry.skip == EntrySkip::OtherFile || entry.skip == EntrySkip::NotSeen) return true;
  }
  return false;
}

bool AnyMismatch(const TreeOutcome& result) {
  for (const EntryReport& entry : result.entries) {
    if (entry.event == EntryEvent::Mismatch) return true;
  }
  return false;
}
