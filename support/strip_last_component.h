// Cutting a path back to the folder that holds it (C:\Tools\app.exe becomes C:\Tools).
#pragma once

#include <cstdint>

// Works on the first length bytes of text, in place: zeroes bytes from offset length - 1
// backwards up to and including the last separator. Without a separator the text becomes
// empty; with length 0 nothing changes.
void StripLastComponent(char* text, uint32_t length);

// The same with a given separator; StripLastComponent uses the platform's own.
void StripLastComponentWith(char separator, char* text, uint32_t length);
