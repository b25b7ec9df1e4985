// The name of a temporary output: short, so that a final name that fits the system has a
// temporary that fits too, and unpredictable, so that files planted in a shared folder under
// names guessed in advance cannot stand in its way.
#pragma once

#include <cstdint>

// Composes, in out (capacity bytes), the first folderLength bytes of finalPath (its folder
// and separator) followed by ".varnell-", twelve base-32 characters from the low 60 bits of
// random, and ".tmp". 0 when that does not fit.
int ComposeTemporaryPath(const char* finalPath, uint32_t folderLength, uint64_t random, char* out, uint32_t capacity);
// Whether a name (one component) has the form of such a temporary.
bool IsTemporaryName(const char* name);
