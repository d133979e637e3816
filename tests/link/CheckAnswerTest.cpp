#include <gtest/gtest.h>

#include <string>

#include "ErrorText.h"
#include "FakeLink.h"

namespace {

struct TAnswerCase {
    std::string Name;
    TBytes Pdu;
    TBytes Answer;  // whole frame as received
    uint8_t Expected;
};

TBytes Registers(uint8_t byteCount, int dataBytes) {
    TBytes frame{0x01, 0x03, byteCount};
    for (int i = 0; i < dataBytes; ++i) {
        frame.push_back(static_cast<uint8_t>(i));
    }
    return WithCrc(frame);
}

TBytes FileRecordAnswer(uint8_t byteCount, int dataBytes) {
    TBytes frame{0x01, 0x14, byteCount};
    for (int i = 0; i < dataBytes; ++i) {
        frame.push_back(static_cast<uint8_t>(i));
    }
    return WithCrc(frame);
}

TBytes DeviceSection(uint8_t byteCount, int dataBytes) {
    TBytes frame{0x01, 0x45, byteCount};
    frame.resize(3 + static_cast<size_t>(dataBytes), 0x00);
    return WithCrc(frame);
}

const TBytes kReadTen = {0x03, 0x00, 0x10, 0x00, 0x0A};
const TBytes kWriteOne = {0x06, 0x00, 0x07, 0x12, 0x34};
const TBytes kWriteMany = {0x10, 0x00, 0x20, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x02};
// Two sub-requests of record lengths 1 and 2.
const TBytes kFileRecords = {0x14, 0x0E, 0x06, 0x00, 0x01, 0x00, 0x00, 0x00,
                             0x01, 0x06, 0x00, 0x01, 0x00, 0x05, 0x00, 0x02};

std::vector<TAnswerCase> AnswerCases() {
    std::vector<TAnswerCase> cases = {
        {"read: byte count 20 for 10 registers", kReadTen, Registers(20, 20), 0},
        {"read: byte count 21 rounds down to 10", kReadTen, Registers(21, 21), 0},
        {"read: byte count 18 for 10 registers", kReadTen, Registers(18, 18), 100},
        {"read input registers",
         {0x04, 0x00, 0x00, 0x00, 0x01},
         WithCrc({0x01, 0x04, 0x02, 0xAB, 0xCD}),
         0},
        {"read input registers, short count",
         {0x04, 0x00, 0x00, 0x00, 0x02},
         WithCrc({0x01, 0x04, 0x02, 0xAB, 0xCD}),
         100},
        {"write single: address echoed", kWriteOne, WithCrc({0x01, 0x06, 0x00, 0x07, 0x12, 0x34}),
         0},
        {"write single: value not compared", kWriteOne,
         WithCrc({0x01, 0x06, 0x00, 0x07, 0xFF, 0xFF}), 0},
        {"write single: other address", kWriteOne, WithCrc({0x01, 0x06, 0x00, 0x08, 0x12, 0x34}),
         101},
        {"write multiple: start and quantity echoed", kWriteMany,
         WithCrc({0x01, 0x10, 0x00, 0x20, 0x00, 0x02}), 0},
        {"write multiple: other quantity", kWriteMany,
         WithCrc({0x01, 0x10, 0x00, 0x20, 0x00, 0x03}), 101},
        {"write multiple: other start", kWriteMany, WithCrc({0x01, 0x10, 0x01, 0x20, 0x00, 0x02}),
         101},
        {"file records: 15 bytes, byte count 10", kFileRecords, FileRecordAnswer(10, 10), 0},
        {"file records: byte count does not match the length", kFileRecords,
         FileRecordAnswer(11, 10), 101},
        {"file records: length does not match the sub-requests", kFileRecords,
         FileRecordAnswer(12, 12), 101},
        // 2 x 0x7FFF + 2 wraps to 0 in the 16-bit sum, as the devices compute it.
        {"file records: record length 0x7FFF wraps the sum",
         {0x14, 0x07, 0x06, 0x00, 0x00, 0x00, 0x00, 0x7F, 0xFF},
         WithCrc({0x01, 0x14, 0x00}),
         0},
        {"device section: 32 bytes", {0x45, 0x00}, DeviceSection(32, 32), 0},
        {"device section: byte count 30", {0x45, 0x00}, DeviceSection(30, 30), 101},
        {"device section: byte count 32 but short", {0x45, 0x00}, DeviceSection(32, 30), 101},
        {"binding: nothing checked", {0x46, 0x01, 0x02}, WithCrc({0x01, 0x46}), 0},
        {"boot loader: nothing checked", {0x47}, WithCrc({0x01, 0x47, 0x99, 0x98}), 0},
        {"other function codes: nothing checked",
         {0x05, 0x00, 0x01, 0xFF, 0x00},
         WithCrc({0x01, 0x05, 0x00, 0x02, 0x00, 0x00}),
         0},
        {"exception code 0 reads as no error", kReadTen, WithCrc({0x01, 0x83, 0x00}), 0},
        {"exception code 200 kept as sent", kReadTen, WithCrc({0x01, 0x83, 200}), 200},
        {"exception code 101 kept as sent", kWriteOne, WithCrc({0x01, 0x86, 101}), 101},
        // Positions beyond the end of a frame count as a mismatch of their step.
        {"write multiple: answer ends before the quantity", kWriteMany, WithCrc({0x01, 0x10, 0x00}),
         101},
        {"read: request ends before the quantity",
         {0x03, 0x00},
         WithCrc({0x01, 0x03, 0x02, 0x00, 0x07}),
         100},
        {"file records: request ends inside a sub-request",
         {0x14, 0x0E, 0x06, 0x00, 0x01},
         FileRecordAnswer(10, 10),
         101},
        {"file records: request lacks its second sub-request",
         {0x14, 0x0E, 0x06, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01},
         FileRecordAnswer(4, 4),
         101},
    };
    for (uint8_t code = 1; code <= 8; ++code) {
        cases.push_back({"exception code " + std::to_string(code), kReadTen,
                         WithCrc({0x01, 0x83, code}), code});
    }
    return cases;
}

TEST(CheckAnswerTest, YieldsTheCodeOfTheFirstFailingStep) {
    for (const TAnswerCase& test : AnswerCases()) {
        TFakeLink fake;
        ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
        fake.BuildRequest(test.Pdu);
        fake.Io->QueueChunk(test.Answer);
        ASSERT_TRUE(fake.Link.Transact(1000)) << test.Name;
        const uint8_t* answer = nullptr;
        int32_t length = 0;
        EXPECT_EQ(fake.Link.CheckAnswer(answer, length), test.Expected) << test.Name;
        EXPECT_EQ(fake.Link.GetError(), test.Expected) << test.Name;
        EXPECT_EQ(answer, fake.Link.RxBuf) << test.Name;
        EXPECT_EQ(TBytes(answer, answer + length), test.Answer) << test.Name;
    }
}

TEST(CheckAnswerTest, RequestWhoseCrcWasCutOffIsACrcError) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
    TBytes pdu(300, 0x00);
    pdu[0] = 0x42;
    fake.BuildRequest(pdu);
    ASSERT_EQ(fake.Link.Frame.FrameLen, 256);
    fake.Io->QueueChunk(WithCrc({0x01, 0x42, 0x00}));
    ASSERT_TRUE(fake.Link.Transact(1000));
    const uint8_t* answer = nullptr;
    int32_t length = 0;
    EXPECT_EQ(fake.Link.CheckAnswer(answer, length), ErrorCode::BadCrc);
}

TEST(CheckAnswerTest, KeepsTheErrorOfAFailedExchange) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
    fake.BuildRequest(kReadTen);
    ASSERT_FALSE(fake.Link.Transact(300));
    const uint8_t* answer = nullptr;
    int32_t length = -1;
    EXPECT_EQ(fake.Link.CheckAnswer(answer, length), ErrorCode::AnswerTimeout);
    EXPECT_EQ(length, 0);
}

TEST(CheckAnswerTest, NoAnswerHeldIsAMismatchNotARead) {
    TFakeLink fake;
    ASSERT_TRUE(fake.Link.Connect(1, 0x01, 9600));
    fake.BuildRequest(kReadTen);
    const uint8_t* answer = nullptr;
    int32_t length = -1;
    EXPECT_EQ(fake.Link.CheckAnswer(answer, length), ErrorCode::ForeignAddress);
    EXPECT_EQ(length, 0);
}

}  // namespace
