#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "LogFile.h"
#include "LogModel.h"
#include "Utf8.h"

namespace {

constexpr std::string_view kHeader =
    R"({\rtf1\ansi\ansicpg1251\deff0{\fonttbl{\f0\fmodern\fcharset204 Monospace;}})";

struct TRtfWord {
    std::string Name;
    std::optional<long> Parameter;
};

// One group of the document as a reader sees it: its control words, its text decoded to UTF-8
// (\tab as TAB, \line as CR LF, \uN as the character) and the groups inside it.
struct TRtfGroup {
    std::vector<TRtfWord> Words;
    std::string Text;
    std::string Raw;
    int Paragraphs = 0;
    std::vector<TRtfGroup> Children;

    bool Has(std::string_view name) const {
        return std::any_of(Words.begin(), Words.end(),
                           [name](const TRtfWord& word) { return word.Name == name; });
    }
    std::optional<long> Value(std::string_view name) const {
        for (const TRtfWord& word : Words) {
            if (word.Name == name) {
                return word.Parameter;
            }
        }
        return std::nullopt;
    }
};

// A strict reader of the RTF subset the log writes: unbalanced braces, unknown control symbols,
// raw bytes beyond ASCII, a \u without its "?" and a lone surrogate are all errors.
class TRtfReader {
public:
    explicit TRtfReader(std::string_view source) : Source(source) {}

    std::optional<TRtfGroup> Document() {
        if (Source.empty() || Source[0] != '{') {
            Error = "no opening brace";
            return std::nullopt;
        }
        TRtfGroup root;
        if (!Group(root)) {
            return std::nullopt;
        }
        for (; At < Source.size(); ++At) {
            if (Source[At] != '\r' && Source[At] != '\n') {
                Error = "text after the document";
                return std::nullopt;
            }
        }
        return root;
    }

    std::string Error;

private:
    bool Fail(std::string text) {
        Error = std::move(text) + " at " + std::to_string(At);
        return false;
    }

    // At the group's opening brace; ends past its closing brace.
    bool Group(TRtfGroup& group) {
        const size_t start = At++;
        // Zero while no high surrogate waits for its low one.
        char32_t highSurrogate = 0;
        while (At < Source.size()) {
            const char byte = Source[At];
            if (highSurrogate != 0 && byte != '\\') {
                return Fail("lone high surrogate");
            }
            if (byte == '}') {
                ++At;
                group.Raw = std::string(Source.substr(start, At - start));
                return highSurrogate == 0 || Fail("lone high surrogate");
            }
            if (byte == '{') {
                group.Children.emplace_back();
                if (!Group(group.Children.back())) {
                    return false;
                }
            } else if (byte == '\\') {
                if (!Control(group, highSurrogate)) {
                    return false;
                }
            } else if (byte == '\r' || byte == '\n') {
                ++At;
            } else if (static_cast<unsigned char>(byte) >= 0x80) {
                return Fail("raw byte beyond ASCII");
            } else {
                group.Text.push_back(byte);
                ++At;
            }
        }
        return Fail("unclosed group");
    }

    bool Control(TRtfGroup& group, char32_t& highSurrogate) {
        ++At;
        if (At >= Source.size()) {
            return Fail("backslash at the end");
        }
        const char first = Source[At];
        if (!std::isalpha(static_cast<unsigned char>(first))) {
            if (first != '\\' && first != '{' && first != '}') {
                return Fail("unknown control symbol");
            }
            if (highSurrogate != 0) {
                return Fail("lone high surrogate");
            }
            group.Text.push_back(first);
            ++At;
            return true;
        }
        TRtfWord word;
        while (At < Source.size() && std::isalpha(static_cast<unsigned char>(Source[At]))) {
            word.Name.push_back(Source[At++]);
        }
        const size_t numberStart = At;
        if (At < Source.size() && Source[At] == '-') {
            ++At;
        }
        while (At < Source.size() && std::isdigit(static_cast<unsigned char>(Source[At]))) {
            ++At;
        }
        if (At > numberStart) {
            word.Parameter = std::stol(std::string(Source.substr(numberStart, At - numberStart)));
        }
        if (At < Source.size() && Source[At] == ' ') {
            ++At;
        }
        if (highSurrogate != 0 && word.Name != "u") {
            return Fail("lone high surrogate");
        }
        if (word.Name == "u") {
            if (!word.Parameter || At >= Source.size() || Source[At] != '?') {
                return Fail("\\u without its parameter or its \"?\"");
            }
            ++At;
            const long value = *word.Parameter;
            if (value < -32768 || value > 32767) {
                return Fail("\\u beyond 16 bits");
            }
            const auto unit = static_cast<char32_t>(value < 0 ? value + 0x10000 : value);
            if (highSurrogate != 0) {
                if (unit < 0xDC00 || unit > 0xDFFF) {
                    return Fail("high surrogate without its low one");
                }
                AppendUtf8(group.Text,
                           0x10000 + ((highSurrogate - 0xD800) << 10) + (unit - 0xDC00));
                highSurrogate = 0;
            } else if (unit >= 0xD800 && unit <= 0xDBFF) {
                highSurrogate = unit;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return Fail("lone low surrogate");
            } else {
                AppendUtf8(group.Text, unit);
            }
        } else if (word.Name == "tab") {
            group.Text.push_back('\t');
        } else if (word.Name == "line") {
            group.Text.append("\r\n");
        } else if (word.Name == "par") {
            ++group.Paragraphs;
        }
        group.Words.push_back(std::move(word));
        return true;
    }

    std::string_view Source;
    size_t At = 0;
};

struct TSavedRtf {
    std::string Rtf;
    TRtfGroup Document;
    // Entry 0 is the reader's automatic colour; entries 1.. as \cfN and \highlightN count them.
    std::vector<uint32_t> Colours;
    bool Valid = false;

    // The groups of the log's lines follow the font and colour tables.
    std::vector<TRtfGroup> Lines() const {
        return {Document.Children.begin() + std::min<ptrdiff_t>(2, std::ssize(Document.Children)),
                Document.Children.end()};
    }
    std::optional<uint32_t> Colour(std::optional<long> index) const {
        if (!index || *index < 1 || static_cast<size_t>(*index) >= Colours.size()) {
            return std::nullopt;
        }
        return Colours[static_cast<size_t>(*index)];
    }
};

// Reads "{\colortbl;\redR\greenG\blueB;...}" entry by entry, each entry exactly in that form.
bool ReadColourTable(std::string_view raw, std::vector<uint32_t>& colours) {
    constexpr std::string_view kOpening = "{\\colortbl;";
    if (raw.substr(0, kOpening.size()) != kOpening || raw.back() != '}') {
        return false;
    }
    std::string_view entries = raw.substr(kOpening.size(), raw.size() - kOpening.size() - 1);
    colours.assign(1, 0);
    while (!entries.empty()) {
        const size_t end = entries.find(';');
        if (end == std::string_view::npos) {
            return false;
        }
        const std::string entry(entries.substr(0, end));
        unsigned red = 0;
        unsigned green = 0;
        unsigned blue = 0;
        if (std::sscanf(entry.c_str(), "\\red%u\\green%u\\blue%u", &red, &green, &blue) != 3 ||
            red > 255 || green > 255 || blue > 255 ||
            entry != "\\red" + std::to_string(red) + "\\green" + std::to_string(green) + "\\blue" +
                         std::to_string(blue)) {
            return false;
        }
        colours.push_back((red << 16) | (green << 8) | blue);
        entries.remove_prefix(end + 1);
    }
    return true;
}

struct TSourceLine {
    TLogKind Kind;
    std::string Text;
};

TSavedRtf SaveRtf(const std::vector<TSourceLine>& lines) {
    TLogModel log;
    for (const TSourceLine& line : lines) {
        log.Append(line.Kind, line.Text);
    }
    std::ostringstream out;
    WriteLogRtf(log, out);
    EXPECT_TRUE(out.good());
    TSavedRtf saved;
    saved.Rtf = out.str();
    TRtfReader reader(saved.Rtf);
    const std::optional<TRtfGroup> document = reader.Document();
    if (!document) {
        ADD_FAILURE() << "unreadable RTF: " << reader.Error;
        return saved;
    }
    saved.Document = *document;
    if (saved.Document.Children.size() < 2 ||
        !ReadColourTable(saved.Document.Children[1].Raw, saved.Colours)) {
        ADD_FAILURE() << "no colour table where expected";
        return saved;
    }
    saved.Valid = true;
    return saved;
}

TSavedRtf SaveRtf(TLogKind kind, std::string text) {
    return SaveRtf({{kind, std::move(text)}});
}

const std::vector<TSourceLine>& OneLineOfEachKind() {
    static const std::vector<TSourceLine> lines = {
        {TLogKind::Date, "05-03-2024 09:05:03"},
        {TLogKind::Info, "09:05:03.007\tСтарт"},
        {TLogKind::Error, "09:05:03.120\tНет ответа"},
        {TLogKind::Notice, "09:05:03.121\tПоказывать НЕХ данные: Включено"},
        {TLogKind::Send, "09:05:03.200\t>> READ_HOLDING_REGISTER 010300000002C40B"},
        {TLogKind::Receive, "09:05:03.230\t<< 01030400000001FBF3"},
    };
    return lines;
}

TEST(LogRtfTest, DocumentOpensWithCodePageAndMonospacedFont) {
    const TSavedRtf saved = SaveRtf(OneLineOfEachKind());
    ASSERT_TRUE(saved.Valid);
    EXPECT_EQ(saved.Rtf.substr(0, kHeader.size()), kHeader);
    EXPECT_EQ(saved.Document.Children[0].Raw, R"({\fonttbl{\f0\fmodern\fcharset204 Monospace;}})");
    EXPECT_EQ(saved.Document.Value("ansicpg"), 1251);
    EXPECT_EQ(saved.Document.Value("deff"), 0);
    EXPECT_EQ(saved.Document.Value("uc"), 1);
    EXPECT_EQ(saved.Document.Value("f"), 0);
    EXPECT_EQ(saved.Document.Value("fs"), 21);
    EXPECT_EQ(saved.Rtf.back(), '}');
}

TEST(LogRtfTest, ColourTableHoldsExactlyTheColoursUsed) {
    const TSavedRtf saved = SaveRtf(OneLineOfEachKind());
    ASSERT_TRUE(saved.Valid);
    std::vector<uint32_t> colours(saved.Colours.begin() + 1, saved.Colours.end());
    std::sort(colours.begin(), colours.end());
    const std::vector<uint32_t> expected = {0x000000, 0x0000FF, 0x008000, 0x808080,
                                            0xA6CAF0, 0xFF0000, 0xFFFFFF};
    EXPECT_EQ(colours, expected);
    EXPECT_NE(saved.Rtf.find("\\red166\\green202\\blue240;"), std::string::npos);
}

TEST(LogRtfTest, ColourTableOfALogOfOneKindHoldsOnlyItsColours) {
    const TSavedRtf saved = SaveRtf(
        {{TLogKind::Send, "09:05:03.200\t>> 0103"}, {TLogKind::Send, "09:05:03.300\t>> 0104"}});
    ASSERT_TRUE(saved.Valid);
    std::vector<uint32_t> colours(saved.Colours.begin() + 1, saved.Colours.end());
    std::sort(colours.begin(), colours.end());
    EXPECT_EQ(colours, (std::vector<uint32_t>{0x008000, 0xFFFFFF}));
}

TEST(LogRtfTest, EachKindHasItsColoursAndStyles) {
    struct TCase {
        TLogKind Kind;
        uint32_t Text;
        uint32_t Background;
        bool Bold;
        bool Italic;
        bool Underline;
        bool StrikeOut;
    };
    const std::vector<TCase> cases = {
        {TLogKind::Date, 0xFFFFFF, 0x000000, false, false, true, false},
        {TLogKind::Info, 0x808080, 0xFFFFFF, false, true, false, false},
        {TLogKind::Error, 0xFFFFFF, 0xFF0000, true, false, false, false},
        {TLogKind::Notice, 0x0000FF, 0xA6CAF0, true, false, false, false},
        {TLogKind::Send, 0x008000, 0xFFFFFF, false, false, false, false},
        {TLogKind::Receive, 0x0000FF, 0xFFFFFF, false, false, false, false},
    };
    const std::vector<TSourceLine>& source = OneLineOfEachKind();
    const TSavedRtf saved = SaveRtf(source);
    ASSERT_TRUE(saved.Valid);
    const std::vector<TRtfGroup> lines = saved.Lines();
    ASSERT_EQ(lines.size(), cases.size());
    for (size_t index = 0; index < cases.size(); ++index) {
        const TCase& expected = cases[index];
        const TRtfGroup& line = lines[index];
        SCOPED_TRACE(line.Raw);
        ASSERT_EQ(source[index].Kind, expected.Kind);
        EXPECT_EQ(saved.Colour(line.Value("cf")), expected.Text);
        EXPECT_EQ(saved.Colour(line.Value("highlight")), expected.Background);
        EXPECT_EQ(saved.Colour(line.Value("chcbpat")), expected.Background);
        EXPECT_EQ(line.Has("b"), expected.Bold);
        EXPECT_EQ(line.Has("i"), expected.Italic);
        EXPECT_EQ(line.Has("ul"), expected.Underline);
        EXPECT_EQ(line.Has("strike"), expected.StrikeOut);
        EXPECT_EQ(line.Text, source[index].Text);
        EXPECT_EQ(line.Paragraphs, 1);
        EXPECT_TRUE(line.Children.empty());
    }
}

TEST(LogRtfTest, RtfSpecialCharactersEscaped) {
    struct TCase {
        std::string Text;
        std::string_view Written;
    };
    const std::vector<TCase> cases = {
        {"a{b}c", R"(a\{b\}c)"}, {"C:\\logs\\", R"(C:\\logs\\)"}, {"\\u1040?", R"(\\u1040?)"},
        {"}{", R"(\}\{)"},       {"{\\par}", R"(\{\\par\})"},
    };
    for (const TCase& entry : cases) {
        SCOPED_TRACE(entry.Text);
        const TSavedRtf saved = SaveRtf(TLogKind::Receive, entry.Text);
        ASSERT_TRUE(saved.Valid);
        const std::vector<TRtfGroup> lines = saved.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].Raw.find(entry.Written), std::string::npos) << lines[0].Raw;
        EXPECT_EQ(lines[0].Text, entry.Text);
        EXPECT_EQ(lines[0].Paragraphs, 1);
    }
}

TEST(LogRtfTest, TabAndLineBreaksAsControlWords) {
    struct TCase {
        std::string Text;
        std::string_view Written;
        std::string_view Read;
    };
    const std::vector<TCase> cases = {
        {"09:05:03.007\t<< 01", R"(09:05:03.007\tab << 01)", "09:05:03.007\t<< 01"},
        {"a\tbc", R"(a\tab bc)", "a\tbc"},
        {"one\r\ntwo", R"(one\line two)", "one\r\ntwo"},
        {"one\ntwo", R"(one\line two)", "one\r\ntwo"},
        {"one\rtwo", R"(one\line two)", "one\r\ntwo"},
        {"\r\n\r\n", R"(\line \line )", "\r\n\r\n"},
    };
    for (const TCase& entry : cases) {
        SCOPED_TRACE(entry.Written);
        const TSavedRtf saved = SaveRtf(TLogKind::Info, entry.Text);
        ASSERT_TRUE(saved.Valid);
        const std::vector<TRtfGroup> lines = saved.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].Raw.find(entry.Written), std::string::npos) << lines[0].Raw;
        EXPECT_EQ(lines[0].Raw.find_first_of("\t\r\n"), std::string::npos);
        EXPECT_EQ(lines[0].Text, entry.Read);
        EXPECT_EQ(lines[0].Paragraphs, 1);
    }
}

TEST(LogRtfTest, CharactersBeyondAsciiAsUtf16Units) {
    struct TCase {
        std::string Text;
        std::string_view Written;
    };
    const std::vector<TCase> cases = {
        {"А", R"(\u1040?)"},
        {"я", R"(\u1103?)"},
        {"Ё", R"(\u1025?)"},
        {"№", R"(\u8470?)"},
        {"€", R"(\u8364?)"},
        {"中", R"(\u20013?)"},
        {"\xEF\xBF\xBD", R"(\u-3?)"},                 // U+FFFD
        {"\xEE\x80\x80", R"(\u-8192?)"},              // U+E000
        {"😀", R"(\u-10179?\u-8704?)"},                // U+1F600
        {"\xF4\x8F\xBF\xBF", R"(\u-9217?\u-8193?)"},  // U+10FFFF
        {"x Старт", R"(x \u1057?\u1090?\u1072?\u1088?\u1090?)"},
    };
    for (const TCase& entry : cases) {
        SCOPED_TRACE(entry.Written);
        const TSavedRtf saved = SaveRtf(TLogKind::Notice, entry.Text);
        ASSERT_TRUE(saved.Valid);
        const std::vector<TRtfGroup> lines = saved.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].Raw.find(std::string(entry.Written) + "\\par}"), std::string::npos)
            << lines[0].Raw;
        EXPECT_EQ(lines[0].Text, entry.Text);
    }
}

TEST(LogRtfTest, BrokenUtf8AndControlBytesShownAsQuestionMarks) {
    struct TCase {
        std::string Text;
        std::string_view Read;
    };
    const std::vector<TCase> cases = {
        {"a\xFF"
         "b",
         "a?b"},
        {"ok \xE2\x9C x", "ok ? x"},
        {"\xED\xA0\x80", "???"},
        {"end \xD0", "end ?"},
        {std::string("a\0b", 3), "a?b"},
        {"\x01\x1B\x7F", "???"},
    };
    for (const TCase& entry : cases) {
        SCOPED_TRACE(entry.Read);
        const TSavedRtf saved = SaveRtf({{TLogKind::Error, entry.Text}, {TLogKind::Info, "ё"}});
        ASSERT_TRUE(saved.Valid);
        const std::vector<TRtfGroup> lines = saved.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].Text, entry.Read);
        EXPECT_EQ(lines[1].Text, "ё");
    }
}

TEST(LogRtfTest, EmptyLogIsAnEmptyDocument) {
    const TSavedRtf saved = SaveRtf(std::vector<TSourceLine>{});
    ASSERT_TRUE(saved.Valid);
    EXPECT_EQ(saved.Colours.size(), 1u);
    EXPECT_TRUE(saved.Lines().empty());
}

TEST(LogRtfTest, ManyLinesAcrossWriteBlocksReadBackWhole) {
    constexpr size_t kLines = 40000;
    const std::vector<TLogKind> kinds = {TLogKind::Date,   TLogKind::Info, TLogKind::Error,
                                         TLogKind::Notice, TLogKind::Send, TLogKind::Receive};
    std::vector<TSourceLine> source;
    for (size_t index = 0; index < kLines; ++index) {
        source.push_back({kinds[index % kinds.size()],
                          "09:05:03.007\t>> " + std::to_string(index) +
                              " {Ёж}\\ 😀 READ_HOLDING_REGISTER\r\n010300000002C40B"});
    }
    const TSavedRtf saved = SaveRtf(source);
    ASSERT_TRUE(saved.Valid);
    ASSERT_GT(saved.Rtf.size(), size_t{3} << 20);
    const std::vector<TRtfGroup> lines = saved.Lines();
    ASSERT_EQ(lines.size(), kLines);
    size_t wrong = 0;
    for (size_t index = 0; index < kLines; ++index) {
        const TLogStyle& style = LogStyle(source[index].Kind);
        if (lines[index].Text != source[index].Text || lines[index].Paragraphs != 1 ||
            saved.Colour(lines[index].Value("cf")) != style.Text ||
            saved.Colour(lines[index].Value("chcbpat")) != style.Background) {
            ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

}  // namespace
