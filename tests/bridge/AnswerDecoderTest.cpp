#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include <memory>
#include <span>
#include <vector>

#include "AnswerDecoder.h"
#include "ModbusProtocol.h"
#include "TestFrames.h"

namespace {

// A frame in a heap block of exactly its size, so that a sanitizer sees any read past its end.
class TExactFrame {
public:
    explicit TExactFrame(const TBytes& bytes)
        : Size(bytes.size()), Bytes(std::make_unique<uint8_t[]>(bytes.size())) {
        for (size_t i = 0; i < Size; ++i) {
            Bytes[i] = bytes[i];
        }
    }
    std::span<const uint8_t> Span() const { return {Bytes.get(), Size}; }

private:
    size_t Size;
    std::unique_ptr<uint8_t[]> Bytes;
};

Json::Value Decode(const TBytes& request, const TBytes& answer, Json::Value reply = {}) {
    const TExactFrame requestFrame(request);
    const TExactFrame answerFrame(answer);
    DecodeAnswer(requestFrame.Span(), answerFrame.Span(), reply);
    return reply;
}

TBytes Words(std::initializer_list<uint16_t> words) {
    TBytes bytes;
    for (const uint16_t word : words) {
        bytes.push_back(static_cast<uint8_t>(word >> 8));
        bytes.push_back(static_cast<uint8_t>(word & 0xFF));
    }
    return bytes;
}

// Members absent from a const value read as null, whose size is 0.
Json::ArrayIndex MemberSize(const Json::Value& reply, const char* name) {
    return reply.get(name, Json::Value()).size();
}

TEST(DecodeRegistersTest, RegistersNamedByTheirAddress) {
    for (const uint8_t function : {uint8_t{3}, uint8_t{4}}) {
        const Json::Value reply = Decode(WithCrc({0x01, function, 0x00, 0x00, 0x00, 0x02}),
                                         WithCrc({0x01, function, 0x04, 0x01, 0x02, 0x03, 0x04}));
        Json::Value expected;
        expected["data"]["0"] = 258;
        expected["data"]["1"] = 772;
        EXPECT_EQ(reply, expected) << int{function};
    }
}

TEST(DecodeRegistersTest, AddressesWrapAt16Bits) {
    const Json::Value reply =
        Decode(WithCrc({0x01, 0x03, 0xFF, 0xFF, 0x00, 0x02}),
               WithCrc(Concat({{0x01, 0x03, 0x04}, Words({0x0011, 0x0022})})));
    EXPECT_EQ(reply["data"].getMemberNames(), (std::vector<std::string>{"0", "65535"}));
    EXPECT_EQ(reply["data"]["65535"], 0x11);
    EXPECT_EQ(reply["data"]["0"], 0x22);
}

TEST(DecodeRegistersTest, ShortAnswerYieldsOnlyTheWordsItHolds) {
    // Ten registers asked for, two sent: nothing is read past the frame's nine bytes.
    const TBytes answer = WithCrc(Concat({{0x01, 0x03, 0x14}, Words({0x0001, 0x0002})}));
    const Json::Value reply = Decode(WithCrc({0x01, 0x03, 0x00, 0x10, 0x00, 0x0A}), answer);
    EXPECT_EQ(reply["data"]["16"], 1);
    EXPECT_EQ(reply["data"]["17"], 2);
    EXPECT_LE(reply["data"].size(), (answer.size() - 3) / 2);
}

TEST(DecodeRegistersTest, ByteCountThatOutrunsTheFrameLeavesTheCrcAlone) {
    // The byte count says two registers, the frame holds one: its CRC is no register.
    const Json::Value reply = Decode(WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}),
                                     WithCrc({0x01, 0x03, 0x04, 0x01, 0x02}));
    Json::Value expected;
    expected["data"]["0"] = 0x0102;
    EXPECT_EQ(reply, expected);
}

TEST(DecodeDeviceSectionTest, SixteenRegistersAndTheDeviceType) {
    TBytes answer = {0x01, FunctionCode::ReadSectionDevice, 0x20};
    for (uint16_t k = 0; k < 16; ++k) {
        const TBytes word = Words({static_cast<uint16_t>(0x1000 * k + k)});
        answer.insert(answer.end(), word.begin(), word.end());
    }
    answer = WithCrc(answer);
    const Json::Value reply =
        Decode(WithCrc({0x01, FunctionCode::ReadSectionDevice, 0x00}), answer);
    ASSERT_EQ(reply["data"].size(), 16u);
    for (uint16_t k = 0; k < 16; ++k) {
        EXPECT_EQ(reply["data"][std::to_string(k)], 0x1000 * k + k) << k;
    }
    EXPECT_EQ(DeviceTypeCode(TExactFrame(answer).Span()), 0x1001);
    EXPECT_EQ(
        DeviceTypeCode(TExactFrame(WithCrc({0x01, FunctionCode::ReadSectionDevice, 0x00})).Span()),
        0);
    EXPECT_EQ(DeviceTypeCode(TExactFrame(TBytes{}).Span()), 0);
}

struct TSubRequest {
    uint16_t File;
    uint16_t Record;
    uint16_t Length;
};

TBytes FileRequest(std::initializer_list<TSubRequest> subRequests) {
    TBytes frame = {0x01, 0x14, static_cast<uint8_t>(7 * subRequests.size())};
    for (const TSubRequest& sub : subRequests) {
        frame.push_back(0x06);
        const TBytes fields = Words({sub.File, sub.Record, sub.Length});
        frame.insert(frame.end(), fields.begin(), fields.end());
    }
    return WithCrc(frame);
}

// Each sub-answer: its length, reference type 6 and the record bytes.
TBytes FileAnswer(std::initializer_list<TBytes> records) {
    TBytes frame = {0x01, 0x14, 0x00};
    for (const TBytes& record : records) {
        frame.push_back(static_cast<uint8_t>(record.size() + 1));
        frame.push_back(0x06);
        frame.insert(frame.end(), record.begin(), record.end());
    }
    frame[2] = static_cast<uint8_t>(frame.size() - 3);
    return WithCrc(frame);
}

TEST(DecodeFileRecordsTest, RegisterFilesAtTheirBases) {
    const Json::Value fileZero =
        Decode(FileRequest({{0, 5, 2}}), FileAnswer({Words({0x1111, 0x2222})}));
    Json::Value expected;
    expected["data"]["5"] = 0x1111;
    expected["data"]["6"] = 0x2222;
    EXPECT_EQ(fileZero, expected);

    const std::pair<uint16_t, const char*> bases[] = {
        {1, "4096"}, {2, "8192"}, {4, "16384"}, {5, "32768"}};
    for (const auto& [file, name] : bases) {
        const Json::Value reply =
            Decode(FileRequest({{file, 0, 1}}), FileAnswer({Words({0xABCD})}));
        EXPECT_EQ(reply["data"].getMemberNames(), std::vector<std::string>{name}) << file;
        EXPECT_EQ(reply["data"][name], 0xABCD) << file;
    }
}

TEST(DecodeFileRecordsTest, RangeThatWrapsKeepsItsLengthAndTheNextRecordInStep) {
    const Json::Value reply = Decode(FileRequest({{5, 0x7FFF, 2}, {0, 1, 1}}),
                                     FileAnswer({Words({0x1111, 0x2222}), Words({0x0033})}));
    Json::Value expected;
    expected["data"]["65535"] = 0x1111;
    expected["data"]["0"] = 0x2222;
    expected["data"]["1"] = 0x0033;
    EXPECT_EQ(reply, expected);
}

TEST(DecodeFileRecordsTest, EventRecordsAsThirtyTwoBytes) {
    TBytes event;
    for (uint8_t k = 0; k < 32; ++k) {
        event.push_back(static_cast<uint8_t>(0xE0 ^ k));
    }
    const Json::Value reply = Decode(FileRequest({{6, 3, 16}}), FileAnswer({event}));
    EXPECT_EQ(reply.getMemberNames(), std::vector<std::string>{"events_log"});
    ASSERT_EQ(reply["events_log"].getMemberNames(), std::vector<std::string>{"3"});
    const Json::Value& bytes = reply["events_log"]["3"];
    ASSERT_TRUE(bytes.isArray());
    ASSERT_EQ(bytes.size(), 32u);
    for (Json::ArrayIndex k = 0; k < 32; ++k) {
        EXPECT_EQ(bytes[k], event[k]) << k;
    }
}

TEST(DecodeFileRecordsTest, OtherFilesAreSkippedInStep) {
    // File 3 stores nothing, but its record bytes still move the next sub-request along.
    const Json::Value reply = Decode(FileRequest({{3, 0, 2}, {0, 7, 1}}),
                                     FileAnswer({Words({0xDEAD, 0xBEEF}), Words({0x0042})}));
    Json::Value expected;
    expected["data"]["7"] = 0x42;
    EXPECT_EQ(reply, expected);

    const Json::Value events =
        Decode(FileRequest({{6, 1, 16}, {1, 2, 1}}), FileAnswer({TBytes(32, 0x5A), Words({7})}));
    EXPECT_EQ(events["data"]["4098"], 7);
    EXPECT_EQ(events["events_log"]["1"][31], 0x5A);
}

TEST(DecodeFileRecordsTest, EventBytesPastTheAnswerReadAsZero) {
    const TBytes answer = FileAnswer({{0x11, 0x22, 0x33, 0x44}});
    const Json::Value reply = Decode(FileRequest({{6, 0, 16}}), answer);
    const Json::Value& bytes = reply["events_log"]["0"];
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[3], 0x44);
    // Record bytes start at offset 5 of the answer.
    for (Json::ArrayIndex k = static_cast<Json::ArrayIndex>(answer.size() - 5); k < 32; ++k) {
        EXPECT_EQ(bytes[k], 0) << k;
    }
}

TEST(DecodeFileRecordsTest, RequestByteCountBeyondTheFrame) {
    TBytes request = FileRequest({{0, 9, 1}});
    request[2] = 7 * 3;
    const Json::Value reply = Decode(request, FileAnswer({Words({0x0101})}));
    Json::Value expected;
    expected["data"]["9"] = 0x0101;
    EXPECT_EQ(reply, expected);

    // Cut inside the first sub-request: nothing to decode.
    EXPECT_EQ(MemberSize(Decode({0x01, 0x14, 0x07, 0x06, 0x00}, FileAnswer({Words({1})})), "data"),
              0u);
}

TEST(DecodeFileRecordsTest, LongRecordLengthReadsOnlyTheAnswer) {
    EXPECT_EQ(
        MemberSize(Decode(FileRequest({{0, 0, 0x7FFF}}), WithCrc({0x01, 0x14, 0x00})), "data"), 0u);

    const TBytes answer = FileAnswer({Words({1, 2})});
    const Json::Value reply = Decode(FileRequest({{0, 0, 0x7FFF}}), answer);
    EXPECT_EQ(reply["data"]["0"], 1);
    EXPECT_EQ(reply["data"]["1"], 2);
    EXPECT_LE(reply["data"].size(), (answer.size() - 5) / 2);
}

TEST(DecodeAnswerTest, DataThatIsNoObjectIsReplaced) {
    Json::Value reply;
    reply["data"] = 5;
    reply["status"] = "ok";
    reply = Decode(WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}),
                   WithCrc({0x01, 0x03, 0x02, 0x00, 0x09}), reply);
    Json::Value expected;
    expected["data"]["0"] = 9;
    expected["status"] = "ok";
    EXPECT_EQ(reply, expected);
}

TEST(DecodeAnswerTest, OtherAnswersLeaveTheReplyAlone) {
    Json::Value reply;
    reply["data"]["1"] = 1;
    reply["status"] = "ok";
    const std::pair<TBytes, TBytes> exchanges[] = {
        {WithCrc({0x01, 0x06, 0x00, 0x07, 0x12, 0x34}),
         WithCrc({0x01, 0x06, 0x00, 0x07, 0x12, 0x34})},
        {WithCrc({0x01, 0x10, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00, 0x01}),
         WithCrc({0x01, 0x10, 0x00, 0x20, 0x00, 0x01})},
        {WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}), WithCrc({0x01, 0x83, 0x02})},
        {WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}), {0x01}},
        {WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}), {}},
    };
    for (const auto& [request, answer] : exchanges) {
        EXPECT_EQ(Decode(request, answer, reply), reply) << Hex(answer);
    }
}

}  // namespace
