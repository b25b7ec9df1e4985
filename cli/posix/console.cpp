// Narrow texts are UTF-8 here, which is what terminals show: they go out as they are.
#include "cli/console.h"

void WriteText(std::FILE* stream, const char* text) { std::fputs(text, stream); }
