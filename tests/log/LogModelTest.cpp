#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "LogModel.h"

namespace {

// Larger than any chunk the model keeps its text in, so such a line needs a chunk of its own.
constexpr size_t kMiB = size_t{1} << 20;

// A text that differs from its neighbours in length and in every byte position.
std::string PatternText(size_t index, size_t length) {
    std::string text;
    text.reserve(length);
    for (size_t at = 0; at < length; ++at) {
        text.push_back(static_cast<char>((index * 131 + at * 7 + at / 251) & 0xFF));
    }
    return text;
}

TEST(LogModelTest, StartsEmpty) {
    const TLogModel log;
    EXPECT_EQ(log.Size(), 0u);
}

TEST(LogModelTest, LinesOfEveryKindReadBackInOrder) {
    struct TCase {
        TLogKind Kind;
        std::string_view Text;
    };
    const std::vector<TCase> cases = {
        {TLogKind::Date, "05-03-2024 09:05:03"},
        {TLogKind::Info, "09:05:03.007\tСтарт"},
        {TLogKind::Error, "09:05:03.120\tНет ответа"},
        {TLogKind::Notice, "09:05:03.121\tПоказывать НЕХ данные: Включено"},
        {TLogKind::Send, "09:05:03.200\t>> READ_HOLDING_REGISTER 010300000002C40B"},
        {TLogKind::Receive, "09:05:03.230\t<< 01030400000001FBF3"},
        {TLogKind::Info, ""},
        {TLogKind::Error, "x"},
    };
    TLogModel log;
    for (const TCase& line : cases) {
        log.Append(line.Kind, line.Text);
    }
    ASSERT_EQ(log.Size(), cases.size());
    for (size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(index);
        const TLogModel::TLine line = log.Line(index);
        EXPECT_EQ(line.Kind, cases[index].Kind);
        EXPECT_EQ(line.Text, cases[index].Text);
    }
}

TEST(LogModelTest, KeepsItsOwnCopyOfTheText) {
    TLogModel log;
    std::string text = "09:05:03.007\t>> 0103";
    log.Append(TLogKind::Send, text);
    const char* const callerBytes = text.data();
    text.assign(text.size(), '#');
    EXPECT_EQ(log.Line(0).Text, "09:05:03.007\t>> 0103");
    EXPECT_NE(log.Line(0).Text.data(), callerBytes);
}

TEST(LogModelTest, ZeroBytesAndLineBreaksKept) {
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte) {
        everyByte.push_back(static_cast<char>(byte));
    }
    const std::vector<std::string> texts = {
        std::string("a\0b", 3),
        std::string("\0", 1),
        std::string("\0\0\0x\0", 5),
        "first\r\nsecond",
        "cr\ronly",
        "lf\nonly\n",
        "\r\n",
        everyByte,
    };
    TLogModel log;
    for (const std::string& text : texts) {
        log.Append(TLogKind::Receive, text);
    }
    ASSERT_EQ(log.Size(), texts.size());
    for (size_t index = 0; index < texts.size(); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(log.Line(index).Text.size(), texts[index].size());
        EXPECT_EQ(log.Line(index).Text, texts[index]);
    }
}

TEST(LogModelTest, LinesLongerThanAChunkKeptWholeAmongShortOnes) {
    const std::vector<size_t> lengths = {
        10, kMiB - 1, 20, kMiB, kMiB + 1, 5, 3 * kMiB + 7, 0, kMiB / 2 + 3, kMiB / 2, 9 * kMiB, 40};
    TLogModel log;
    std::vector<std::string_view> views;
    for (size_t index = 0; index < lengths.size(); ++index) {
        log.Append(TLogKind::Info, PatternText(index, lengths[index]));
        views.push_back(log.Line(index).Text);
    }
    ASSERT_EQ(log.Size(), lengths.size());
    for (size_t index = 0; index < lengths.size(); ++index) {
        SCOPED_TRACE(index);
        const std::string expected = PatternText(index, lengths[index]);
        const TLogModel::TLine line = log.Line(index);
        EXPECT_EQ(line.Kind, TLogKind::Info);
        ASSERT_EQ(line.Text.size(), expected.size());
        EXPECT_TRUE(line.Text == expected);
        // The view taken right after the append still shows the same bytes in the same place.
        EXPECT_EQ(views[index].data(), line.Text.data());
        EXPECT_TRUE(views[index] == expected);
    }
}

TEST(LogModelTest, ManyLinesAllIntactAndEarlyViewsStayValid) {
    constexpr size_t kLines = 300000;
    const std::vector<TLogKind> kinds = {TLogKind::Date,   TLogKind::Info, TLogKind::Error,
                                         TLogKind::Notice, TLogKind::Send, TLogKind::Receive};
    const auto lengthOf = [](size_t index) { return (index * 37) % 181; };
    TLogModel log;
    std::vector<std::string_view> early;
    for (size_t index = 0; index < kLines; ++index) {
        log.Append(kinds[index % kinds.size()], PatternText(index, lengthOf(index)));
        if (index < 5000) {
            early.push_back(log.Line(index).Text);
        }
    }
    ASSERT_EQ(log.Size(), kLines);
    size_t wrong = 0;
    for (size_t index = 0; index < kLines; ++index) {
        const TLogModel::TLine line = log.Line(index);
        if (line.Kind != kinds[index % kinds.size()] ||
            line.Text != PatternText(index, lengthOf(index))) {
            ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0u);
    for (size_t index = 0; index < early.size(); ++index) {
        ASSERT_EQ(early[index].data(), log.Line(index).Text.data()) << index;
        ASSERT_TRUE(early[index] == PatternText(index, lengthOf(index))) << index;
    }
}

TEST(LogModelTest, PastTheEndReadsAsAnEmptyLine) {
    TLogModel log;
    log.Append(TLogKind::Error, "09:05:03.007\tОшибка");
    const TLogModel::TLine line = log.Line(1);
    EXPECT_EQ(line.Kind, TLogKind::Info);
    EXPECT_TRUE(line.Text.empty());
}

}  // namespace
