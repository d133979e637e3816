#include "UriCodec.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include "Hex.h"

namespace {

constexpr uint8_t kNotHex = 255;

constexpr std::array<uint8_t, 256> MakeHexValue() {
    std::array<uint8_t, 256> table{};
    for (auto& value : table) {
        value = kNotHex;
    }
    for (size_t digit = 0; digit < 10; ++digit) {
        table['0' + digit] = static_cast<uint8_t>(digit);
    }
    for (size_t letter = 0; letter < 6; ++letter) {
        table['A' + letter] = static_cast<uint8_t>(10 + letter);
        table['a' + letter] = static_cast<uint8_t>(10 + letter);
    }
    return table;
}

constexpr std::array<bool, 256> MakeSafeChar() {
    std::array<bool, 256> table{};
    for (size_t c = '0'; c <= '9'; ++c) {
        table[c] = true;
    }
    for (size_t c = 'A'; c <= 'Z'; ++c) {
        table[c] = true;
        table[c - 'A' + 'a'] = true;
    }
    return table;
}

constexpr std::array<uint8_t, 256> HexValue = MakeHexValue();
constexpr std::array<bool, 256> SafeChar = MakeSafeChar();

uint8_t Byte(char c) {
    return static_cast<uint8_t>(c);
}

[[noreturn]] void FailSelfTest(const char* condition, const char* file, int line) {
    std::fputs(SelfTestFailureReport(condition, file, line).c_str(), stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

// Unlike assert, stays in release builds: a broken codec must not serve a single request.
#define URI_SELF_TEST_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : FailSelfTest(#condition, __FILE__, __LINE__))

std::string UriDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    size_t i = 0;
    while (i + 2 < text.size()) {
        const uint8_t high = HexValue[Byte(text[i + 1])];
        const uint8_t low = HexValue[Byte(text[i + 2])];
        if (text[i] == '%' && high != kNotHex && low != kNotHex) {
            decoded.push_back(static_cast<char>(high * 16 + low));
            i += 3;
        } else {
            decoded.push_back(text[i]);
            ++i;
        }
    }
    decoded.append(text.substr(i));
    return decoded;
}

std::string UriEncode(std::string_view text) {
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char c : text) {
        const uint8_t b = Byte(c);
        if (SafeChar[b]) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            AppendHexByte(encoded, b);
        }
    }
    return encoded;
}

std::string SelfTestFailureReport(std::string_view condition, std::string_view file, int line) {
    std::string report = "Assertion failed: ";
    report.append(condition);
    report.append(", file ");
    report.append(file);
    report.append(", line ");
    report.append(std::to_string(line));
    report.push_back('\n');
    return report;
}

void UriCodecSelfTest() {
    using namespace std::string_literals;
    URI_SELF_TEST_CHECK(UriEncode("ABC") == "ABC");

    const std::string ORG = "\x00\x01\x02"s;
    const std::string ENC = "%00%01%02";
    URI_SELF_TEST_CHECK(UriEncode(ORG) == ENC);
    URI_SELF_TEST_CHECK(UriDecode(ENC) == ORG);

    URI_SELF_TEST_CHECK(UriEncode("\xFF") == "%FF");
    URI_SELF_TEST_CHECK(UriDecode("%FF") == "\xFF");
    URI_SELF_TEST_CHECK(UriDecode("%ff") == "\xFF");

    const std::string UNSAFE = " <>#{}|\\^~[]`";
    const std::string sUnsafeEnc = UriEncode(UNSAFE);
    URI_SELF_TEST_CHECK(std::string::npos == sUnsafeEnc.find_first_of(UNSAFE));
    URI_SELF_TEST_CHECK(UriDecode(sUnsafeEnc) == UNSAFE);

    // A generator of our own, seeded with the time: the runtime's shared one belongs to nobody.
    std::minstd_rand random(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    for (int round = 0; round < 100; ++round) {
        std::array<char, 128> buffer{};
        for (char& c : buffer) {
            c = static_cast<char>(random() % 256);
        }
        const std::string sOrg(buffer.data(), random() % 128);
        const std::string sEnc = UriEncode(sOrg);
        URI_SELF_TEST_CHECK(sOrg == UriDecode(sEnc));
    }
}
