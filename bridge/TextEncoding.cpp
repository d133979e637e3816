#include "TextEncoding.h"

#include <cstdint>
#include <optional>

namespace {

// Code points of the bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F. The byte 0x98 has
// no character and keeps its own value, so that no byte is lost.
constexpr uint16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

uint16_t CodePoint(uint8_t byte) {
    if (byte < 0x80) {
        return byte;
    }
    if (byte < 0xC0) {
        return kUpperHalf[byte - 0x80];
    }
    return static_cast<uint16_t>(0x0410 + (byte - 0xC0));
}

void AppendUtf8(std::string& out, uint16_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// A multi-byte sequence as its lead byte announces it.
struct TSequence {
    size_t Length;
    uint32_t LeadBits;
    uint32_t Smallest;
};

std::optional<TSequence> SequenceOf(uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return TSequence{2, 0x1F, 0x80};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return TSequence{3, 0x0F, 0x800};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return TSequence{4, 0x07, 0x10000};
    }
    return std::nullopt;
}

// The length of the well-formed UTF-8 sequence that starts at the position, 0 when none does.
size_t SequenceLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t position) { return static_cast<uint8_t>(text[position]); };
    const uint8_t lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    const std::optional<TSequence> sequence = SequenceOf(lead);
    if (!sequence || text.size() - at < sequence->Length) {
        return 0;
    }
    uint32_t code = lead & sequence->LeadBits;
    for (size_t k = 1; k < sequence->Length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + k) & 0x3Fu);
    }
    // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
    if (code < sequence->Smallest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return sequence->Length;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const size_t length = SequenceLength(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string Cp1251ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        AppendUtf8(out, CodePoint(static_cast<uint8_t>(c)));
    }
    return out;
}

std::string AsUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t length = SequenceLength(text, i);
        if (length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            AppendUtf8(out, CodePoint(static_cast<uint8_t>(text[i])));
            ++i;
        }
    }
    return out;
}
