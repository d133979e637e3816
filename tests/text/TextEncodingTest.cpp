#include <gtest/gtest.h>

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "Cp1251.h"
#include "TestFrames.h"
#include "Utf8.h"

namespace {

using namespace std::string_literals;

TEST(IsValidUtf8Test, AcceptsOnlyWellFormedSequences) {
    const std::vector<std::pair<std::string, bool>> rows = {
        {"", true},
        {"plain ASCII \x01\x7F", true},
        {"\0"s, true},
        {"\xC2\x80", true},           // U+0080
        {"\xDF\xBF", true},           // U+07FF
        {"Привет", true},             // 2 bytes each
        {"\xE0\xA0\x80", true},       // U+0800
        {"\xE2\x82\xAC", true},       // euro sign
        {"\xEF\xBF\xBF", true},       // U+FFFF
        {"\xF0\x90\x80\x80", true},   // U+10000
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\xC0\x80", false},          // overlong zero
        {"\xC1\xBF", false},          // overlong
        {"\xE0\x80\x80", false},      // overlong
        {"\xE0\x9F\xBF", false},      // overlong U+07FF
        {"\xF0\x8F\xBF\xBF", false},  // overlong U+FFFF
        {"\xED\xA0\x80", false},      // surrogate U+D800
        {"\xED\xBF\xBF", false},      // surrogate U+DFFF
        {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
        {"\xC2", false},              // truncated at the end
        {"\xE2\x82", false},          // truncated at the end
        {"\xF0\x90\x80", false},      // truncated at the end
        {"\xC2\x41", false},          // truncated by "A"
        {"\xE2\x82\x41", false},      // truncated by "A"
        {"\x80", false},              // lone continuation byte
        {"\x61\xBF\x62", false},      // lone continuation byte inside "ab"
        {"\xF5\x80\x80\x80", false},
        {"\xF8\x88\x80\x80\x80", false},
        {"\xFE", false},
        {"\xFF", false},
        {"\xC0\xE1", false},  // "Аб" in Windows-1251
    };
    for (const auto& [text, valid] : rows) {
        const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()),
                                             text.size());
        EXPECT_EQ(IsValidUtf8(text), valid) << Hex(bytes);
    }
}

TEST(Cp1251ToUtf8Test, UnassignedByteKeepsItsValue) {
    EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xC2\x98");
}

TEST(Cp1251ToUtf8Test, ConvertsEveryByteOfAText) {
    EXPECT_EQ(Cp1251ToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2, \xB8\xA8 \x88!"s), "Привет, ёЁ €!");
    EXPECT_EQ(Cp1251ToUtf8("a\0b"s), "a\0b"s);
    EXPECT_EQ(Cp1251ToUtf8(""), "");
}

TEST(AppendAsCp1251Test, EachBrokenPieceBecomesOneQuestionMark) {
    std::string written;
    // A lone continuation byte, a lead cut short by ASCII, a surrogate, an overlong form, and a
    // lead at the very end.
    AppendAsCp1251(written,
                   "a\x80"
                   "b\xD0"
                   "c\xED\xA0\x80"
                   "d\xC1\x81"
                   "e\xE2\x82"s);
    EXPECT_EQ(written, "a?b?c???d??e?");
}

TEST(AsUtf8Test, KeepsUtf8SequencesAndReadsOnlyTheOtherBytesAsWindows1251) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"Привет 😀", "Привет 😀"},
        {"plain", "plain"},
        {"", ""},
        {"a\0b"s, "a\0b"s},
        {"\xC0\xE1", "Аб"},
        // Windows-1251 first, then UTF-8 in the same text: each part as it was meant.
        {"\xC0\xE1тест", "Абтест"},
        {"тест\xC0\xE1", "тестАб"},
        {"\xD0\x90\xFF", "Ая"},
        // A lead byte whose sequence is cut short stands alone; what follows is read afresh.
        {"\xE2\x82"
         "A",
         "в‚A"},
        {"\xE2\x82\xAC\xE2\x82", "€в‚"},
        {"\xF0\x90\x80", "рђЂ"},
        {"\xD1\xD1\x82", "Ст"},
        // Overlong forms and surrogates are not UTF-8, so their bytes are Windows-1251.
        {"\xC0\x80", "АЂ"},
        {"\xED\xA0\x80", "н\u00A0Ђ"},
        {"\x98", "\xC2\x98"},
    };
    for (const auto& [text, expected] : rows) {
        const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()),
                                             text.size());
        EXPECT_EQ(AsUtf8(text), expected) << Hex(bytes);
    }
}

TEST(AsUtf8Test, AlwaysGivesValidUtf8AndLeavesValidUtf8Alone) {
    std::string every;
    for (int value = 0; value <= 0xFF; ++value) {
        every.push_back(static_cast<char>(value));
        every += "я";
    }
    const std::string converted = AsUtf8(every);
    EXPECT_TRUE(IsValidUtf8(converted));
    EXPECT_EQ(AsUtf8(converted), converted);
}

}  // namespace
