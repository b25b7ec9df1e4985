// UTF-8, the one encoding of names inside the program: reading a text code point by code point
// and writing code points back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The code point at text[*at], advancing *at past it; false for bytes that are not UTF-8
// (overlong forms, surrogates and values above U+10FFFF included), leaving *at where it was.
bool NextCodePoint(std::string_view text, size_t* at, uint32_t* code);

// Whether the whole text is UTF-8.
bool IsUtf8(std::string_view text);

// Appends the code point's UTF-8 bytes. A surrogate is written as its own three bytes, which no
// reader takes for UTF-8: a UTF-16 name with a lone surrogate becomes a name that is refused.
void AppendUtf8(std::string* out, uint32_t code);
