#include "Cp1251.h"

#include <cstdint>
#include <optional>

#include "Utf8.h"

namespace {

// Code points of the bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F. The byte 0x98 has
// no character and keeps its own value when read, so that no byte is lost.
constexpr uint8_t kUnassigned = 0x98;
constexpr char16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};
constexpr char32_t kFirstCyrillic = 0x0410;
// Tag characters are invisible; the system's converter drops them, and so do the log files.
constexpr char32_t kFirstTag = 0xE0000;
constexpr char32_t kLastTag = 0xE007F;
constexpr uint8_t kFirstCyrillicByte = 0xC0;

char32_t CodePoint(uint8_t byte) {
    if (byte < 0x80) {
        return byte;
    }
    if (byte < kFirstCyrillicByte) {
        return kUpperHalf[byte - 0x80];
    }
    return kFirstCyrillic + (byte - kFirstCyrillicByte);
}

// The byte of a character; none for one the code page lacks, U+0098 included, since that byte
// has no character to write.
std::optional<uint8_t> Cp1251Byte(char32_t code) {
    if (code < 0x80) {
        return static_cast<uint8_t>(code);
    }
    if (code >= kFirstCyrillic && code < kFirstCyrillic + 64) {
        return static_cast<uint8_t>(kFirstCyrillicByte + (code - kFirstCyrillic));
    }
    for (uint8_t index = 0; index < 64; ++index) {
        if (kUpperHalf[index] == code && 0x80 + index != kUnassigned) {
            return static_cast<uint8_t>(0x80 + index);
        }
    }
    return std::nullopt;
}

}  // namespace

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
    size_t at = 0;
    while (at < text.size()) {
        const TUtf8Step step = DecodeUtf8(text, at);
        if (step.Valid) {
            out.append(text.substr(at, step.Length));
            at += step.Length;
        } else {
            AppendUtf8(out, CodePoint(static_cast<uint8_t>(text[at])));
            ++at;
        }
    }
    return out;
}

void AppendAsCp1251(std::string& out, std::string_view utf8) {
    size_t at = 0;
    while (at < utf8.size()) {
        const auto byte = static_cast<uint8_t>(utf8[at]);
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
            ++at;
            continue;
        }
        const TUtf8Step step = DecodeUtf8(utf8, at);
        at += step.Length;
        if (step.Valid && step.Code >= kFirstTag && step.Code <= kLastTag) {
            continue;
        }
        const std::optional<uint8_t> converted = step.Valid ? Cp1251Byte(step.Code) : std::nullopt;
        out.push_back(converted ? static_cast<char>(*converted) : '?');
    }
}
