#include "AddressText.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace {

using TIpv6Words = std::array<uint16_t, 8>;

std::optional<std::array<uint8_t, 4>> ParseIpv4(std::string_view text) {
    std::array<uint8_t, 4> bytes{};
    size_t part = 0;
    size_t position = 0;
    while (part < bytes.size()) {
        unsigned value = 0;
        size_t digits = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' &&
               digits < 3) {
            value = value * 10 + static_cast<unsigned>(text[position] - '0');
            ++position;
            ++digits;
        }
        if (digits == 0 || value > 255) {
            return std::nullopt;
        }
        bytes[part++] = static_cast<uint8_t>(value);
        if (part < bytes.size()) {
            if (position >= text.size() || text[position] != '.') {
                return std::nullopt;
            }
            ++position;
        }
    }
    if (position != text.size()) {
        return std::nullopt;
    }
    return bytes;
}

std::string Ipv4Text(const std::array<uint8_t, 4>& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            text += '.';
        }
        text += std::to_string(bytes[i]);
    }
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Groups of one to four hexadecimal digits, one "::" at most, and an IPv4 address in place of
// the last two groups.
std::optional<TIpv6Words> ParseIpv6(std::string_view text) {
    TIpv6Words words{};
    size_t count = 0;
    std::optional<size_t> gap;
    size_t position = 0;
    if (text.starts_with("::")) {
        gap = 0;
        position = 2;
    }
    while (position < text.size()) {
        const std::string_view rest = text.substr(position);
        const size_t next = rest.find(':');
        const std::string_view group = rest.substr(0, next);
        if (next == std::string_view::npos && group.find('.') != std::string_view::npos) {
            const auto ipv4 = ParseIpv4(group);
            if (!ipv4 || count + 2 > words.size()) {
                return std::nullopt;
            }
            words[count++] = static_cast<uint16_t>((*ipv4)[0] << 8 | (*ipv4)[1]);
            words[count++] = static_cast<uint16_t>((*ipv4)[2] << 8 | (*ipv4)[3]);
            position = text.size();
            break;
        }
        if (group.empty() || group.size() > 4 || count == words.size()) {
            return std::nullopt;
        }
        unsigned value = 0;
        for (char c : group) {
            const int digit = HexValue(c);
            if (digit < 0) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        words[count++] = static_cast<uint16_t>(value);
        position += group.size();
        if (position == text.size()) {
            break;
        }
        ++position;  // the ':'
        if (position < text.size() && text[position] == ':') {
            if (gap) {
                return std::nullopt;
            }
            gap = count;
            ++position;
        } else if (position == text.size()) {
            return std::nullopt;  // a single ':' at the end
        }
    }
    if (gap) {
        if (count == words.size()) {
            return std::nullopt;
        }
        // The groups after the gap move to the end; the gap is zeros.
        const size_t after = count - *gap;
        for (size_t i = 0; i < after; ++i) {
            words[words.size() - 1 - i] = words[count - 1 - i];
        }
        for (size_t i = *gap; i < words.size() - after; ++i) {
            words[i] = 0;
        }
    } else if (count != words.size()) {
        return std::nullopt;
    }
    return words;
}

// The C library's spelling: the longest run of two or more zero groups (the first of equal
// ones) becomes "::", groups in lower-case hexadecimal without leading zeros, and an IPv4
// address in the last two groups after six zero groups or after five and ffff.
std::string Ipv6Text(const TIpv6Words& words) {
    int bestBase = -1;
    int bestLength = 0;
    int runBase = -1;
    int runLength = 0;
    for (int i = 0; i <= 8; ++i) {
        if (i < 8 && words[static_cast<size_t>(i)] == 0) {
            if (runBase < 0) {
                runBase = i;
                runLength = 0;
            }
            ++runLength;
            continue;
        }
        if (runBase >= 0 && runLength > bestLength) {
            bestBase = runBase;
            bestLength = runLength;
        }
        runBase = -1;
    }
    if (bestLength < 2) {
        bestBase = -1;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (bestBase >= 0 && i >= bestBase && i < bestBase + bestLength) {
            if (i == bestBase) {
                text += ':';
            }
            continue;
        }
        if (i != 0) {
            text += ':';
        }
        if (i == 6 && bestBase == 0 &&
            (bestLength == 6 || (bestLength == 5 && words[5] == 0xffff))) {
            text += Ipv4Text(
                {static_cast<uint8_t>(words[6] >> 8), static_cast<uint8_t>(words[6] & 0xff),
                 static_cast<uint8_t>(words[7] >> 8), static_cast<uint8_t>(words[7] & 0xff)});
            return text;
        }
        const uint16_t word = words[static_cast<size_t>(i)];
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (word >> shift) & 0xfU;
            if (digit == 0 && leading && shift > 0) {
                continue;
            }
            leading = false;
            text += kDigits[digit];
        }
    }
    if (bestBase >= 0 && bestBase + bestLength == 8) {
        text += ':';
    }
    return text;
}

}  // namespace

bool IsCanonicalIpv4(std::string_view text) {
    const auto bytes = ParseIpv4(text);
    return bytes && Ipv4Text(*bytes) == text;
}

bool IsCanonicalIpv6(std::string_view text) {
    const auto words = ParseIpv6(text);
    return words && Ipv6Text(*words) == text;
}

std::string Ipv4AddressText(const std::array<uint8_t, 4>& bytes) {
    return Ipv4Text(bytes);
}

std::string Ipv6AddressText(const std::array<uint8_t, 16>& bytes) {
    TIpv6Words words{};
    for (size_t i = 0; i < words.size(); ++i) {
        words[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    }
    return Ipv6Text(words);
}
