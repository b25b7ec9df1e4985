// Cuts a path back to its folder, in place.
#include "support/strip_last_component.h"

#include "platform/platform.h"

void StripLastComponent(char* text, uint32_t length) { StripLastComponentWith(kPathSeparator, text, length); }

void StripLastComponentWith(char separator, char* text, uint32_t length) {
  for (uint32_t i = length; i > 0; --i) {
    const bool wasSeparator = text[i - 1] == separator;
    text[i - 1] = '\0';
    if (wasSeparator) return;
  }
}
