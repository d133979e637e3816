#include "AsciiCase.h"

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        c = LowerAscii(c);
    }
    return text;
}

bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() && StartsWithIgnoringAsciiCase(left, right);
}

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t index = 0; index < prefix.size(); ++index) {
        if (LowerAscii(text[index]) != LowerAscii(prefix[index])) {
            return false;
        }
    }
    return true;
}
