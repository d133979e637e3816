#include <gtest/gtest.h>

#include <string>

#include "RequestAssembler.h"

namespace {

constexpr size_t kLimit = 4096;

TEST(RequestAssemblerTest, CompleteAtHeaderEndWithoutContentLength) {
    TRequestAssembler assembler(kLimit);
    EXPECT_TRUE(assembler.Empty());
    EXPECT_FALSE(assembler.Complete());
    assembler.Append("POST / HTTP/1.1\r\nHost: x\r\n");
    EXPECT_FALSE(assembler.Complete());
    EXPECT_FALSE(assembler.Empty());
    assembler.Append("\r\n");
    EXPECT_TRUE(assembler.Complete());
}

TEST(RequestAssemblerTest, WaitsForTheBodyContentLengthNames) {
    TRequestAssembler assembler(kLimit);
    assembler.Append("POST / HTTP/1.1\r\nContent-Length: 12\r\n\r\njson_data=");
    EXPECT_FALSE(assembler.Complete());
    assembler.Append("{");
    EXPECT_FALSE(assembler.Complete());
    assembler.Append("}");
    EXPECT_TRUE(assembler.Complete());
}

TEST(RequestAssemblerTest, ContentLengthNameIgnoresCase) {
    for (const char* field : {"content-length: 5", "CONTENT-LENGTH:5", "Content-length:\t5"}) {
        TRequestAssembler assembler(kLimit);
        assembler.Append(std::string("POST / HTTP/1.1\r\n") + field + "\r\n\r\nabcd");
        EXPECT_FALSE(assembler.Complete()) << field;
        assembler.Append("e");
        EXPECT_TRUE(assembler.Complete()) << field;
    }
}

TEST(RequestAssemblerTest, ContentLengthThatIsNoNumberCountsAsAbsent) {
    for (const char* field : {"Content-Length: abc", "Content-Length:", "Content-Length: -5"}) {
        TRequestAssembler assembler(kLimit);
        assembler.Append(std::string("POST / HTTP/1.1\r\n") + field + "\r\n\r\n");
        EXPECT_TRUE(assembler.Complete()) << field;
    }
}

TEST(RequestAssemblerTest, HeaderEndSplitAcrossAppends) {
    TRequestAssembler halves(kLimit);
    halves.Append("POST / HTTP/1.1\r\nContent-Length: 2\r\n");
    halves.Append("\r\n");
    EXPECT_FALSE(halves.Complete());
    halves.Append("{}");
    EXPECT_TRUE(halves.Complete());

    TRequestAssembler pieces(kLimit);
    pieces.Append("POST / HTTP/1.1\r");
    pieces.Append("\n\r\n");
    EXPECT_TRUE(pieces.Complete());

    // One byte at a time: the header end is found wherever the pieces fall.
    const std::string request = "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
    TRequestAssembler bytes(kLimit);
    for (size_t i = 0; i < request.size(); ++i) {
        EXPECT_FALSE(bytes.Complete()) << i;
        EXPECT_EQ(bytes.Append(request.substr(i, 1)), 1u);
    }
    EXPECT_TRUE(bytes.Complete());
    EXPECT_EQ(bytes.Bytes(), request);
}

TEST(RequestAssemblerTest, TakesNoMoreThanTheLimit) {
    TRequestAssembler assembler(10);
    EXPECT_EQ(assembler.Room(), 10u);
    EXPECT_EQ(assembler.Append("POST / "), 7u);
    EXPECT_FALSE(assembler.Full());
    EXPECT_EQ(assembler.Room(), 3u);
    EXPECT_EQ(assembler.Append("HTTP/1.1\r\n\r\n"), 3u);
    EXPECT_TRUE(assembler.Full());
    EXPECT_EQ(assembler.Room(), 0u);
    EXPECT_EQ(assembler.Append("more"), 0u);
    EXPECT_FALSE(assembler.Complete());
    EXPECT_EQ(assembler.Bytes(), "POST / HTT");
}

TEST(RequestAssemblerTest, HeaderEndCutByTheLimitIsNotComplete) {
    TRequestAssembler assembler(8);
    EXPECT_EQ(assembler.Append("GET /\r\n\r\n"), 8u);
    EXPECT_TRUE(assembler.Full());
    EXPECT_FALSE(assembler.Complete());
}

TEST(RequestAssemblerTest, ClearStartsAfresh) {
    TRequestAssembler assembler(kLimit);
    const std::string first = "POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}";
    assembler.Append(first);
    ASSERT_TRUE(assembler.Complete());
    EXPECT_EQ(assembler.Bytes(), first);
    assembler.Clear();
    EXPECT_TRUE(assembler.Empty());
    EXPECT_FALSE(assembler.Complete());
    EXPECT_EQ(assembler.Room(), kLimit);

    // The second request must not inherit the first one's header end or length.
    const std::string second = "POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\n[1]";
    assembler.Append(second);
    EXPECT_FALSE(assembler.Complete());
    assembler.Append(" ");
    EXPECT_TRUE(assembler.Complete());
    EXPECT_EQ(assembler.Bytes(), second + " ");
}

}  // namespace
