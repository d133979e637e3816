#include "Utf8.h"

TUtf8Step DecodeUtf8(std::string_view text, size_t at) {
    const auto byte = [text](size_t position) {
        return static_cast<unsigned>(static_cast<unsigned char>(text[position]));
    };
    const unsigned lead = byte(at);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    size_t length = 0;
    char32_t code = 0;
    // The range of the second byte is narrower after some leads: that excludes the overlong
    // forms, the surrogates and the code points past U+10FFFF.
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {0, 1, false};
    }
    const size_t left = text.size() - at;
    for (size_t taken = 1; taken < length; ++taken) {
        const unsigned next = taken < left ? byte(at + taken) : 0;
        if (next < low || next > high) {
            return {0, taken, false};
        }
        code = (code << 6) | (next & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return {code, length, true};
}

bool IsValidUtf8(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        const TUtf8Step step = DecodeUtf8(text, at);
        if (!step.Valid) {
            return false;
        }
        at += step.Length;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}
