// The form codec: any bytes through the decoder, and through the encoder and back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "UriCodec.h"

namespace {

bool IsSafe(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string decoded = UriDecode(text);
    FUZZ_CHECK(decoded.size() <= text.size());
    // Without a percent sign nothing is decoded.
    if (text.find('%') == std::string_view::npos) {
        FUZZ_CHECK(decoded == text);
    }

    const std::string encoded = UriEncode(text);
    size_t expected = 0;
    for (const char c : text) {
        expected += IsSafe(c) ? 1 : 3;
    }
    FUZZ_CHECK(encoded.size() == expected);
    // Walks the encoding beside the input: a safe byte stands for itself, any other byte is a
    // percent sign and its two upper-case hexadecimal digits.
    size_t at = 0;
    for (const char c : text) {
        if (IsSafe(c)) {
            FUZZ_CHECK(encoded[at] == c);
            ++at;
            continue;
        }
        FUZZ_CHECK(encoded[at] == '%' && IsUpperHex(encoded[at + 1]) &&
                   IsUpperHex(encoded[at + 2]));
        const auto value = static_cast<unsigned char>(c);
        constexpr char kDigits[] = "0123456789ABCDEF";
        FUZZ_CHECK(encoded[at + 1] == kDigits[value >> 4] &&
                   encoded[at + 2] == kDigits[value & 15]);
        at += 3;
    }
    for (const char c : encoded) {
        FUZZ_CHECK(IsSafe(c) || c == '%');
    }

    FUZZ_CHECK(UriDecode(encoded) == text);
    return 0;
}
