#include "Hex.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

void AppendHexByte(std::string& out, uint8_t byte) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

std::string HexText(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve(2 * bytes.size());
    for (const uint8_t byte : bytes) {
        AppendHexByte(text, byte);
    }
    return text;
}
