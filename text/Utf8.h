#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// One step of strict UTF-8 decoding: no overlong forms, no surrogates, nothing past U+10FFFF.
struct TUtf8Step {
    char32_t Code;
    // Bytes taken: the whole character, or for a broken one its longest valid-looking start (at
    // least one byte), so that a reader that replaces broken pieces replaces each one once.
    size_t Length;
    bool Valid;
};

// The character that starts at the position, which must be inside the text.
TUtf8Step DecodeUtf8(std::string_view text, size_t at);

bool IsValidUtf8(std::string_view text);

// The code point in UTF-8.
void AppendUtf8(std::string& out, char32_t code);
