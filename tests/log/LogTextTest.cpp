#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "LocalTime.h"
#include "LogFile.h"
#include "LogModel.h"

namespace {

struct TSourceLine {
    TLogKind Kind;
    std::string Text;
};

std::string SaveText(const std::vector<TSourceLine>& lines) {
    TLogModel log;
    for (const TSourceLine& line : lines) {
        log.Append(line.Kind, line.Text);
    }
    std::ostringstream out;
    WriteLogText(log, out);
    EXPECT_TRUE(out.good());
    return out.str();
}

std::string SaveText(std::string_view text) {
    return SaveText({{TLogKind::Info, std::string(text)}});
}

// A two-byte UTF-8 character, written out by hand so the expectations do not share code with
// the converter.
std::string Utf8TwoBytes(unsigned code) {
    return {static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (const int value : values) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

TEST(LogTextTest, LinesInCp1251EachEndedByCrLf) {
    const std::string saved = SaveText({
        {TLogKind::Date, "05-03-2024 09:05:03"},
        {TLogKind::Send, "09:05:03.007\t>> текст"},
        {TLogKind::Receive, "09:05:03.030\t<< 0103"},
        {TLogKind::Info, ""},
    });
    const std::string expected =
        "05-03-2024 09:05:03\r\n"
        "09:05:03.007\t>> " +
        Bytes({0xF2, 0xE5, 0xEA, 0xF1, 0xF2}) +
        "\r\n"
        "09:05:03.030\t<< 0103\r\n"
        "\r\n";
    EXPECT_EQ(saved, expected);
}

TEST(LogTextTest, NoByteOrderMark) {
    const std::string saved = SaveText("Старт");
    EXPECT_EQ(saved, Bytes({0xD1, 0xF2, 0xE0, 0xF0, 0xF2, '\r', '\n'}));
}

TEST(LogTextTest, EmptyLogWritesNothing) {
    EXPECT_EQ(SaveText(std::vector<TSourceLine>{}), "");
}

TEST(LogTextTest, LettersAndSignsByHandTable) {
    struct TCase {
        std::string_view Utf8;
        int Cp1251;
    };
    const std::vector<TCase> cases = {
        {"А", 0xC0}, {"я", 0xFF}, {"Ё", 0xA8}, {"ё", 0xB8}, {"№", 0xB9},
        {"€", 0x88}, {"Ў", 0xA1}, {"«", 0xAB}, {"»", 0xBB}, {"—", 0x97},
    };
    for (const TCase& entry : cases) {
        SCOPED_TRACE(entry.Utf8);
        EXPECT_EQ(SaveText(entry.Utf8), Bytes({entry.Cp1251, '\r', '\n'}));
    }
}

TEST(LogTextTest, EveryBasicCyrillicLetterInOrder) {
    // А..я are U+0410..U+044F and 0xC0..0xFF in the code page, in the same order.
    std::string text;
    std::string expected;
    for (unsigned code = 0x410; code <= 0x44F; ++code) {
        text += Utf8TwoBytes(code);
        expected.push_back(static_cast<char>(0xC0 + (code - 0x410)));
    }
    EXPECT_EQ(SaveText(text), expected + "\r\n");
}

TEST(LogTextTest, AsciiAndZeroBytesPassUnchanged) {
    std::string ascii;
    for (int byte = 0; byte < 0x80; ++byte) {
        ascii.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(SaveText(ascii), ascii + "\r\n");
    EXPECT_EQ(SaveText(std::string("a\0b", 3)), std::string("a\0b\r\n", 5));
}

TEST(LogTextTest, LineBreaksInsideALineKept) {
    EXPECT_EQ(SaveText("one\r\nдва"), "one\r\n" + Bytes({0xE4, 0xE2, 0xE0}) + "\r\n");
}

TEST(LogTextTest, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    struct TCase {
        std::string_view Utf8;
        std::string_view Saved;
    };
    const std::vector<TCase> cases = {
        {"ok ✓ done", "ok ? done"},
        {"中文", "??"},
        {"x😀y", "x?y"},
        {"\xC3\xA4", "?"},  // ä
        {"\xC2\x98", "?"},  // U+0098, the one hole in the code page's upper half
        {"✓", "?"},
    };
    for (const TCase& entry : cases) {
        SCOPED_TRACE(entry.Utf8);
        EXPECT_EQ(SaveText(entry.Utf8), std::string(entry.Saved) + "\r\n");
    }
}

TEST(LogTextTest, BrokenUtf8BecomesQuestionMarksAndTheRestSurvives) {
    struct TCase {
        std::string Utf8;
        std::string Saved;
    };
    const std::vector<TCase> cases = {
        {"a\xFF"
         "b",
         "a?b"},
        {"\xFE\xFF", "??"},
        {"end \xC3", "end ?"},
        {"ok \xE2\x9C x", "ok ? x"},
        {"\xC0\xAF"
         "z",
         "??z"},
        {"\xED\xA0\x80!",
         "???"
         "!"},
        {"\xF4\x90\x80\x80", "????"},
        {"\x80\x80я", "??" + Bytes({0xFF})},
        {"я\xD1", Bytes({0xFF}) + "?"},
        {"\xF0\x9F\x98 А", "? " + Bytes({0xC0})},
    };
    for (const TCase& entry : cases) {
        SCOPED_TRACE(entry.Saved);
        const std::string saved =
            SaveText({{TLogKind::Error, entry.Utf8}, {TLogKind::Info, "next ё"}});
        EXPECT_EQ(saved, entry.Saved + "\r\n" + "next " + Bytes({0xB8}) + "\r\n");
    }
}

TEST(LogTextTest, ManyLinesAcrossWriteBlocks) {
    // Enough lines for several write blocks, each line with letters, a character the code page
    // lacks and a broken byte, so that a fault at a block's edge shows.
    constexpr size_t kLines = 120000;
    std::vector<TSourceLine> lines;
    std::string expected;
    lines.reserve(kLines);
    for (size_t index = 0; index < kLines; ++index) {
        const std::string number = std::to_string(index);
        lines.push_back({TLogKind::Send, number + "\t>> ж✓\xFFЁ"});
        expected += number + "\t>> " + Bytes({0xE6}) + "??" + Bytes({0xA8}) + "\r\n";
    }
    const std::string saved = SaveText(lines);
    ASSERT_EQ(saved.size(), expected.size());
    EXPECT_TRUE(saved == expected);
}

TEST(LogTextTest, LineLargerThanAWriteBlock) {
    std::string text;
    for (int count = 0; count < 1500000; ++count) {
        text += "я";
    }
    text += "\xFF";
    const std::string saved = SaveText(
        {{TLogKind::Info, "before"}, {TLogKind::Receive, text}, {TLogKind::Info, "after"}});
    const std::string expected = "before\r\n" + std::string(1500000, '\xFF') + "?\r\nafter\r\n";
    ASSERT_EQ(saved.size(), expected.size());
    EXPECT_TRUE(saved == expected);
}

// Seconds since 1970-01-01 of a local time, counted as if every day had 86400 seconds.
int64_t SecondsOf(const TLocalTime& time) {
    // Days from the civil date, by the proleptic Gregorian calendar.
    const int64_t year = time.Month <= 2 ? time.Year - 1 : time.Year;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear =
        (153 * (time.Month + (time.Month > 2 ? -3 : 9)) + 2) / 5 + time.Day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + time.Hour * 3600 + time.Minute * 60 + time.Second;
}

// The time of a site's last request is shown by the local wall clock: so long before now, not
// now, not a thousand times more or less.
TEST(LocalTimeTest, ALocalTimeSoLongAgo) {
    for (const int64_t agoSeconds : {0, 90, 600}) {
        const int64_t before = SecondsOf(LocalTimeNow());
        const int64_t then = SecondsOf(LocalTimeBefore(static_cast<uint64_t>(agoSeconds) * 1000));
        const int64_t after = SecondsOf(LocalTimeNow());
        EXPECT_GE(then, before - agoSeconds - 1) << agoSeconds;
        EXPECT_LE(then, after - agoSeconds + 1) << agoSeconds;
    }
}

}  // namespace
