// The name of a temporary output: short, so that a final name that fits the system has a
// temporary that fits too, and unpredictable, so that files planted in a shared folder under
// names guessed in advance cannot stand in its way.
#pragma once

#include <cstdint>

// Composes, in out (capacity bytes), the first folderLength bytes of finalPath (its folder
// and separator) followed by ".varnell-", twelve base-32 characters from the low 60 bits of
// random, and ".tmp". 0 when that does not fit.
int ComposeTemporaryPath(const char* finalPath, uint32_t folderLength, uint64_t random, char* out, uint32_t capacity);

// The middle name a rename of letter case alone goes through (Windows: the file system takes
// the new name for the old one): ".varnell-", twelve letters and digits from a hash of the final
// name, ".rename". Fixed for the name, so that a run that dies between the two renames leaves
// a name the next run of the same repair finds and finishes; no run deletes it. out: at least
// kTemporaryNameRoom bytes.
void ComposeMiddleName(const char* finalName, char* out, uint32_t capacity);

// Whether a name is a temporary's: ".varnell-", twelve of the letters and digits above, ".tmp";
// the leftovers of a run that died are found by it.
bool IsTemporaryName(const char* name);
