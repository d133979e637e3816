#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "IniFile.h"
#include "MbapFraming.h"
#include "ModbusTcpSettings.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (const int value : values) {
        out.push_back(static_cast<char>(value));
    }
    return out;
}

const std::string kReadHolding = Bytes({0x12, 0x34, 0, 0, 0, 6, 0x11, 3, 0, 0x6B, 0, 3});

TEST(MbapFramingTest, FramesMalformedAndGood) {
    struct TRow {
        const char* What;
        std::string Input;
        TMbapParse Result;
        size_t Consumed = 0;
        uint16_t TransactionId = 0;
        uint8_t UnitId = 0;
        std::string Pdu;
    };
    const std::string longest = Bytes({0, 1, 0, 0, 0, 254, 9}) + std::string(253, '\x10');
    const TRow rows[] = {
        {"nothing yet", "", TMbapParse::NeedMore, 0, 0, 0, ""},
        {"a header in part", Bytes({0x12, 0x34, 0, 0, 0}), TMbapParse::NeedMore, 0, 0, 0, ""},
        {"a body in part", kReadHolding.substr(0, 9), TMbapParse::NeedMore, 0, 0, 0, ""},
        {"a read of three registers", kReadHolding, TMbapParse::Request, 12, 0x1234, 0x11,
         Bytes({3, 0, 0x6B, 0, 3})},
        {"the next frame's bytes are left", kReadHolding + kReadHolding.substr(0, 3),
         TMbapParse::Request, 12, 0x1234, 0x11, Bytes({3, 0, 0x6B, 0, 3})},
        {"the shortest: a function code alone", Bytes({0xFF, 0xFF, 0, 0, 0, 2, 0, 0x11}),
         TMbapParse::Request, 8, 0xFFFF, 0, Bytes({0x11})},
        {"the longest PDU, 253 bytes", longest, TMbapParse::Request, 260, 1, 9,
         std::string(253, '\x10')},
        {"protocol id 1, before the length has come", Bytes({0, 1, 0, 1}), TMbapParse::Malformed, 0,
         0, 0, ""},
        {"protocol id 0x0100", Bytes({0, 1, 1, 0, 0, 6, 1, 3, 0, 0, 0, 1}), TMbapParse::Malformed,
         0, 0, 0, ""},
        {"length 0", Bytes({0, 1, 0, 0, 0, 0}), TMbapParse::Malformed, 0, 0, 0, ""},
        {"length 1: a unit id without a function", Bytes({0, 1, 0, 0, 0, 1, 1}),
         TMbapParse::Malformed, 0, 0, 0, ""},
        {"length 255, before its body", Bytes({0, 1, 0, 0, 0, 255}), TMbapParse::Malformed, 0, 0, 0,
         ""},
        {"length 0x0106", Bytes({0, 1, 0, 0, 1, 6}), TMbapParse::Malformed, 0, 0, 0, ""},
        {"an HTTP request on the Modbus port", "POST / HTTP/1.1\r\n", TMbapParse::Malformed, 0, 0,
         0, ""},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        const TMbapParsed parsed = ParseMbapFrame(row.Input);
        EXPECT_EQ(parsed.Result, row.Result);
        if (row.Result != TMbapParse::Request) {
            continue;
        }
        EXPECT_EQ(parsed.Consumed, row.Consumed);
        EXPECT_EQ(parsed.Request.TransactionId, row.TransactionId);
        EXPECT_EQ(parsed.Request.UnitId, row.UnitId);
        EXPECT_EQ(parsed.Request.Pdu, row.Pdu);
    }
}

TEST(MbapFramingTest, AnswersEchoTheTransactionAndCountTheUnitAndPdu) {
    struct TRow {
        const char* What;
        std::string Built;
        std::string Expected;
    };
    const TMbapRequest write{.TransactionId = 0xBEEF, .UnitId = 7, .Pdu = Bytes({6, 0, 1, 0, 3})};
    const TRow rows[] = {
        {"the slave's answer", BuildMbapAnswer(0x1234, 0x11, Bytes({3, 2, 0x00, 0x2A})),
         Bytes({0x12, 0x34, 0, 0, 0, 5, 0x11, 3, 2, 0x00, 0x2A})},
        {"the slave's own exception passed through",
         BuildMbapAnswer(0x0001, 3, Bytes({0x83, 0x02})), Bytes({0, 1, 0, 0, 0, 3, 3, 0x83, 2})},
        {"no answer from the slave", BuildMbapException(write, MbapException::TargetFailed),
         Bytes({0xBE, 0xEF, 0, 0, 0, 3, 7, 0x86, 0x0B})},
        {"the queue full", BuildMbapException(write, MbapException::PathUnavailable),
         Bytes({0xBE, 0xEF, 0, 0, 0, 3, 7, 0x86, 0x0A})},
        {"a write to a read-only port", BuildMbapException(write, MbapException::IllegalFunction),
         Bytes({0xBE, 0xEF, 0, 0, 0, 3, 7, 0x86, 0x01})},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        EXPECT_EQ(row.Built, row.Expected);
    }
}

TEST(MbapFramingTest, StreamTakesPipelinedRequestsInOrderAndStaysBrokenAfterAFault) {
    TMbapStream stream;
    const std::string second = Bytes({0x12, 0x35, 0, 0, 0, 6, 0x11, 6, 0, 1, 0, 9});
    const std::string both = kReadHolding + second;
    // One byte at a time, as a slow network may give them.
    std::vector<uint16_t> taken;
    for (const char byte : both) {
        stream.Append(std::string_view(&byte, 1));
        const TMbapParsed parsed = stream.Next();
        ASSERT_NE(parsed.Result, TMbapParse::Malformed);
        if (parsed.Result == TMbapParse::Request) {
            taken.push_back(parsed.Request.TransactionId);
        }
    }
    EXPECT_EQ(taken, (std::vector<uint16_t>{0x1234, 0x1235}));
    EXPECT_TRUE(stream.Empty());

    stream.Append(Bytes({0, 1, 0, 7}));
    EXPECT_EQ(stream.Next().Result, TMbapParse::Malformed);
    EXPECT_EQ(stream.Room(), 0u);
    stream.Append(kReadHolding);
    EXPECT_EQ(stream.Next().Result, TMbapParse::Malformed);
}

TEST(MbapFramingTest, StreamHoldsAtMostOneFrame) {
    TMbapStream stream;
    stream.Append(std::string(10'000, '\0') + kReadHolding);
    EXPECT_EQ(stream.Room(), 0u);
    // Zeros read as transaction 0, protocol 0, length 0: malformed, never a grown buffer.
    EXPECT_EQ(stream.Next().Result, TMbapParse::Malformed);
}

TEST(ModbusTcpSettingsTest, OffWithoutPortAndOddValuesAProblemEach) {
    const struct {
        const char* Text;
        std::optional<uint16_t> Port;
        uint8_t Com;
        int32_t Baud;
        int32_t TimeoutMs;
        bool Echo;
        bool Invert;
        size_t Problems;
    } rows[] = {
        {"", std::nullopt, 1, 9600, 1000, false, false, 0},
        {"[ModbusTcp]\nCOM=3\n", std::nullopt, 1, 9600, 1000, false, false, 0},
        {"[ModbusTcp]\nPort=1502\nCOM=3\nBaud=19200\nTimeoutMs=300\nCtrlEcho=1\nCtrlInvert=1\n",
         1502, 3, 19200, 300, true, true, 0},
        {"[ModbusTcp]\nPort=502 ; the standard port\n", 502, 1, 9600, 1000, false, false, 0},
        {"[ModbusTcp]\nPort=0\nCOM=3\n", std::nullopt, 1, 9600, 1000, false, false, 1},
        {"[ModbusTcp]\nPort=65536\n", std::nullopt, 1, 9600, 1000, false, false, 1},
        {"[ModbusTcp]\nPort=tcp\n", std::nullopt, 1, 9600, 1000, false, false, 1},
        {"[ModbusTcp]\nPort=1502\nCOM=0\nBaud=-1\nTimeoutMs=0\nCtrlEcho=2\nCtrlInvert=yes\n", 1502,
         1, 9600, 1000, false, false, 5},
        {"[ModbusTcp]\nPort=1502\nCOM=256\nTimeoutMs=60001\n", 1502, 1, 9600, 1000, false, false,
         2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        TIniFile file;
        file.LoadText(row.Text);
        std::vector<std::string> problems;
        const TModbusTcpSettings read = ReadModbusTcpSettings(file, problems);
        EXPECT_EQ(read.Port, row.Port);
        EXPECT_EQ(read.Com, row.Com);
        EXPECT_EQ(read.Baud, row.Baud);
        EXPECT_EQ(read.TimeoutMs, row.TimeoutMs);
        EXPECT_EQ(read.CtrlEcho, row.Echo);
        EXPECT_EQ(read.CtrlInvert, row.Invert);
        EXPECT_EQ(problems.size(), row.Problems);
    }
}

}  // namespace
