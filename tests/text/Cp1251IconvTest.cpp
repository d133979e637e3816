#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "Cp1251.h"
#include "Utf8.h"

namespace {

// The system's own converter is the reference for the code page.
std::string IconvCp1251(char byte) {
    const iconv_t converter = iconv_open("UTF-8", "CP1251");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "no CP1251 converter";
        return {};
    }
    char in[1] = {byte};
    char out[8] = {};
    char* inPointer = in;
    char* outPointer = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    const size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1)) {
        ADD_FAILURE() << "iconv cannot convert byte " << int{static_cast<unsigned char>(byte)};
        return {};
    }
    return std::string(out, sizeof out - outLeft);
}

TEST(Cp1251ToUtf8Test, MatchesTheSystemConverterForEveryByte) {
    for (int value = 0; value <= 0xFF; ++value) {
        if (value == 0x98) {
            continue;
        }
        const char byte = static_cast<char>(value);
        EXPECT_EQ(Cp1251ToUtf8(std::string(1, byte)), IconvCp1251(byte)) << "byte " << value;
    }
}

// The log files were written through the system's converter; the table must write every
// character as it did: its byte, "?" where the code page lacks it, nothing for what it drops.
TEST(AppendAsCp1251Test, MatchesTheSystemConverterForEveryCharacter) {
    const iconv_t converter = iconv_open("CP1251", "UTF-8");
    ASSERT_NE(converter, reinterpret_cast<iconv_t>(-1)) << "no CP1251 converter";
    int differences = 0;
    for (char32_t code = 0; code <= 0x10FFFF && differences < 10; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) {
            continue;
        }
        std::string utf8;
        AppendUtf8(utf8, code);
        char out[8] = {};
        char* inPointer = utf8.data();
        char* outPointer = out;
        size_t inLeft = utf8.size();
        size_t outLeft = sizeof out;
        const bool converted =
            iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<size_t>(-1);
        const std::string expected = converted ? std::string(out, sizeof out - outLeft) : "?";
        std::string written;
        AppendAsCp1251(written, utf8);
        if (written != expected) {
            ADD_FAILURE() << "U+" << std::hex << static_cast<uint32_t>(code);
            ++differences;
        }
    }
    iconv_close(converter);
}

}  // namespace
