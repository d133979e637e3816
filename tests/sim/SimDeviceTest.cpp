#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "SimDevice.h"
#include "TestFrames.h"

namespace {

using TAnswer = std::optional<TBytes>;

// The answer PDU of a register read.
TBytes Registers(uint8_t function, std::initializer_list<uint16_t> values) {
    TBytes pdu{function, static_cast<uint8_t>(2 * values.size())};
    for (const uint16_t value : values) {
        pdu.push_back(static_cast<uint8_t>(value >> 8));
        pdu.push_back(static_cast<uint8_t>(value));
    }
    return pdu;
}

// A read of count registers from start, whose values are their own addresses.
TBytes UntouchedRegisters(uint8_t function, uint32_t start, uint32_t count, uint32_t offset = 0) {
    TBytes pdu{function, static_cast<uint8_t>(2 * count)};
    for (uint32_t address = start; address < start + count; ++address) {
        pdu.push_back(static_cast<uint8_t>((offset + address) >> 8));
        pdu.push_back(static_cast<uint8_t>(offset + address));
    }
    return pdu;
}

TBytes Refused(uint8_t function, uint8_t code) {
    return {static_cast<uint8_t>(function | 0x80), code};
}

// A read-file-record request with one sub-request.
TBytes FileRead(uint16_t file, uint16_t record, uint16_t length, uint8_t reference = 6) {
    return {0x14,
            0x07,
            reference,
            static_cast<uint8_t>(file >> 8),
            static_cast<uint8_t>(file),
            static_cast<uint8_t>(record >> 8),
            static_cast<uint8_t>(record),
            static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length)};
}

TBytes TwoFileReads(uint16_t lengthA, uint16_t lengthB) {
    TBytes pdu = FileRead(0, 0, lengthA);
    const TBytes second = FileRead(0, 0x100, lengthB);
    pdu[1] = 14;
    pdu.insert(pdu.end(), second.begin() + 2, second.end());
    return pdu;
}

// The answer to a one-sub-request file read carrying the data.
TBytes FileAnswer(const TBytes& data) {
    TBytes pdu{0x14, static_cast<uint8_t>(data.size() + 2), static_cast<uint8_t>(data.size() + 1),
               0x06};
    pdu.insert(pdu.end(), data.begin(), data.end());
    return pdu;
}

// Register values high byte first.
TBytes Words(uint32_t first, uint32_t count) {
    TBytes bytes;
    for (uint32_t value = first; value < first + count; ++value) {
        bytes.push_back(static_cast<uint8_t>(value >> 8));
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

// Bytes 6 to 31 of event record r: (r + i) & 0xFF.
TBytes EventTail(uint32_t record) {
    TBytes bytes;
    for (uint32_t i = 6; i < 32; ++i) {
        bytes.push_back(static_cast<uint8_t>(record + i));
    }
    return bytes;
}

TBytes Zeros(size_t count) {
    return TBytes(count, 0);
}

TBytes WithData(TBytes head, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        head.push_back(static_cast<uint8_t>(i));
    }
    return head;
}

struct TAnswerCase {
    std::string Name;
    TBytes Pdu;  // sent to address 1
    TAnswer Answer;
};

TEST(SimDeviceTest, AnswersEveryFunctionCode) {
    const TBytes section = Concat({{0x45, 0x20},
                                   {0x00, 0x01, 0x00, 0x03, 0x01, 0x00, 0x00, 0x01},
                                   {0x20, 0x26, 0x00, 0x01},
                                   Zeros(20)});
    const TAnswerCase cases[] = {
        {"read holding", {0x03, 0x00, 0x10, 0x00, 0x03}, Registers(0x03, {0x10, 0x11, 0x12})},
        {"read the last holding register",
         {0x03, 0x8F, 0xFF, 0x00, 0x01},
         Registers(0x03, {0x8FFF})},
        {"read 125 holding registers",
         {0x03, 0x01, 0x00, 0x00, 0x7D},
         UntouchedRegisters(0x03, 0x100, 125)},
        {"read holding past the bank", {0x03, 0x8F, 0xFF, 0x00, 0x02}, Refused(0x03, 2)},
        {"read holding far outside", {0x03, 0xF0, 0x00, 0x00, 0x01}, Refused(0x03, 2)},
        {"read no holding register", {0x03, 0x00, 0x00, 0x00, 0x00}, Refused(0x03, 3)},
        {"read 126 holding registers", {0x03, 0x00, 0x00, 0x00, 0x7E}, Refused(0x03, 3)},
        {"too many registers outside the bank", {0x03, 0xF0, 0x00, 0x00, 0x7E}, Refused(0x03, 3)},
        {"read plain input registers",
         {0x04, 0x00, 0x03, 0x00, 0x02},
         Registers(0x04, {0x1003, 0x1004})},
        {"read the last input register", {0x04, 0x00, 0xFF, 0x00, 0x01}, Registers(0x04, {0x10FF})},
        {"read input past the bank", {0x04, 0x00, 0xFF, 0x00, 0x02}, Refused(0x04, 2)},
        {"read input beyond the bank", {0x04, 0x01, 0x00, 0x00, 0x01}, Refused(0x04, 2)},
        {"read 126 input registers", {0x04, 0x00, 0x00, 0x00, 0x7E}, Refused(0x04, 3)},
        {"read request with a byte too many",
         {0x03, 0x00, 0x00, 0x00, 0x01, 0x00},
         Refused(0x03, 3)},
        {"write single", {0x06, 0x00, 0x07, 0x04, 0xD2}, TBytes{0x06, 0x00, 0x07, 0x04, 0xD2}},
        {"write the last register",
         {0x06, 0x8F, 0xFF, 0x00, 0x00},
         TBytes{0x06, 0x8F, 0xFF, 0x00, 0x00}},
        {"write single outside the bank", {0x06, 0x90, 0x00, 0x00, 0x01}, Refused(0x06, 2)},
        {"write multiple",
         {0x10, 0x00, 0x20, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78},
         TBytes{0x10, 0x00, 0x20, 0x00, 0x02}},
        {"write 123 registers", WithData({0x10, 0x00, 0x00, 0x00, 0x7B, 0xF6}, 246),
         TBytes{0x10, 0x00, 0x00, 0x00, 0x7B}},
        {"write 124 registers", WithData({0x10, 0x00, 0x00, 0x00, 0x7C, 0xF8}, 248),
         Refused(0x10, 3)},
        {"write no register", {0x10, 0x00, 0x00, 0x00, 0x00, 0x00}, Refused(0x10, 3)},
        {"byte count not twice the quantity",
         {0x10, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x01, 0x02},
         Refused(0x10, 3)},
        {"byte count beyond the data",
         {0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01, 0x02},
         Refused(0x10, 3)},
        {"write multiple past the bank",
         {0x10, 0x8F, 0xFF, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x02},
         Refused(0x10, 2)},
        {"device section", {0x45}, section},
        {"device section with request data", {0x45, 0x00, 0x00, 0x12}, section},
        {"binding", {0x46, 0x11, 0x22, 0x33}, TBytes{0x46, 0x00, 0x11, 0x22, 0x33}},
        {"boot loader without data", {0x47}, TBytes{0x47, 0x00}},
        {"boot loader at the longest answer", WithData({0x47}, 251), WithData({0x47, 0x00}, 251)},
        {"boot loader answer too long", WithData({0x47}, 252), Refused(0x47, 3)},
        {"read coils", {0x01, 0x00, 0x00, 0x00, 0x08}, Refused(0x01, 1)},
        {"read discrete inputs", {0x02, 0x00, 0x00, 0x00, 0x08}, Refused(0x02, 1)},
        {"write coil", {0x05, 0x00, 0x00, 0xFF, 0x00}, Refused(0x05, 1)},
        {"write coils", {0x0F, 0x00, 0x00, 0x00, 0x08, 0x01, 0xFF}, Refused(0x0F, 1)},
        {"write file record", {0x15, 0x00}, Refused(0x15, 1)},
        {"mask write", {0x16, 0x00, 0x04, 0x00, 0xF2, 0x00, 0x25}, Refused(0x16, 1)},
        {"device identification", {0x2B, 0x0E, 0x01, 0x00}, Refused(0x2B, 1)},
        {"code 0x7F", {0x7F}, Refused(0x7F, 1)},
    };
    for (const TAnswerCase& test : cases) {
        TSimDevice device(TDeviceSetup{});
        EXPECT_EQ(device.Answer(WithCrc(Concat({{0x01}, test.Pdu})), 0), test.Answer) << test.Name;
    }
}

TEST(SimDeviceTest, ReadsFileRecords) {
    const TBytes record0 = Concat({{0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, EventTail(0)});
    const TBytes record5 = Concat({{0x05, 0x06, 0x00, 0x00, 0x13, 0x88}, EventTail(5)});
    const TBytes record31 = Concat({{0x1F, 0x04, 0x00, 0x00, 0x79, 0x18}, EventTail(31)});
    const TAnswerCase cases[] = {
        {"file 0", FileRead(0, 5, 2), FileAnswer(Words(0x0005, 2))},
        {"file 1", FileRead(1, 2, 3), FileAnswer(Words(0x1002, 3))},
        {"file 2", FileRead(2, 0x10, 1), FileAnswer(Words(0x2010, 1))},
        {"file 4", FileRead(4, 0x0FFF, 2), FileAnswer(Words(0x4FFF, 2))},
        {"file 5", FileRead(5, 0, 4), FileAnswer(Words(0x8000, 4))},
        {"file 5 up to the end of the bank", FileRead(5, 0x0FFE, 2), FileAnswer(Words(0x8FFE, 2))},
        {"file 5 past the end of the bank", FileRead(5, 0x0FFF, 2), Refused(0x14, 2)},
        {"file 5 record beyond the bank", FileRead(5, 0x1000, 1), Refused(0x14, 2)},
        {"file 0 record into file 1", FileRead(0, 0x1000, 1), FileAnswer(Words(0x1000, 1))},
        {"no registers", FileRead(1, 0, 0), FileAnswer({})},
        {"no registers beyond the bank", FileRead(5, 0x1000, 0), Refused(0x14, 2)},
        {"file 3 does not exist", FileRead(3, 0, 1), Refused(0x14, 2)},
        {"file 7 does not exist", FileRead(7, 0, 1), Refused(0x14, 2)},
        {"file 0x0106 does not exist", FileRead(0x0106, 0, 1), Refused(0x14, 2)},
        {"event record 0 whole", FileRead(6, 0, 16), FileAnswer(record0)},
        {"event record 31 whole", FileRead(6, 31, 16), FileAnswer(record31)},
        {"event record 5, first six bytes", FileRead(6, 5, 3),
         FileAnswer({0x05, 0x06, 0x00, 0x00, 0x13, 0x88})},
        {"event record 5 with zeros beyond it", FileRead(6, 5, 20),
         FileAnswer(Concat({record5, Zeros(8)}))},
        {"event record with no registers", FileRead(6, 3, 0), FileAnswer({})},
        {"event record 32 does not exist", FileRead(6, 32, 1), Refused(0x14, 2)},
        {"reference type 7", FileRead(0, 0, 1, 7), Refused(0x14, 2)},
        {"reference type 0", FileRead(6, 0, 1, 0), Refused(0x14, 2)},
        {"largest answer of one sub-request", FileRead(0, 0, 124), FileAnswer(Words(0, 124))},
        {"answer too long for one sub-request", FileRead(0, 0, 125), Refused(0x14, 3)},
        {"event record answer too long", FileRead(6, 0, 125), Refused(0x14, 3)},
        {"record length 0xFFFF", FileRead(6, 0, 0xFFFF), Refused(0x14, 3)},
        {"two sub-requests", TwoFileReads(2, 1),
         TBytes{0x14, 0x0A, 0x05, 0x06, 0x00, 0x00, 0x00, 0x01, 0x03, 0x06, 0x01, 0x00}},
        {"two sub-requests at the largest answer", TwoFileReads(62, 61),
         Concat({{0x14, 0xFA, 0x7D, 0x06}, Words(0, 62), {0x7B, 0x06}, Words(0x100, 61)})},
        {"two sub-requests too long together", TwoFileReads(62, 62), Refused(0x14, 3)},
        {"byte count 6", {0x14, 0x06, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00}, Refused(0x14, 3)},
        {"byte count 8",
         {0x14, 0x08, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00},
         Refused(0x14, 3)},
        {"byte count short of the data", Concat({FileRead(0, 0, 1), {0x00}}), Refused(0x14, 3)},
        {"byte count above 0xF5", WithData({0x14, 0xFC}, 0xFC), Refused(0x14, 3)},
        {"byte count beyond the data",
         {0x14, 0x0E, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
         Refused(0x14, 3)},
        {"no byte count", {0x14}, Refused(0x14, 3)},
    };
    for (const TAnswerCase& test : cases) {
        TSimDevice device(TDeviceSetup{});
        EXPECT_EQ(device.Answer(WithCrc(Concat({{0x01}, test.Pdu})), 0), test.Answer) << test.Name;
    }
}

TEST(SimDeviceTest, FileRecordsShowWrittenRegisters) {
    TSimDevice device(TDeviceSetup{});
    ASSERT_TRUE(device.Answer(WithCrc({0x01, 0x06, 0x40, 0x12, 0xCA, 0xFE}), 0));
    EXPECT_EQ(device.Answer(WithCrc(Concat({{0x01}, FileRead(4, 0x11, 3)})), 0),
              FileAnswer({0x40, 0x11, 0xCA, 0xFE, 0x40, 0x13}));
}

struct TLiveCase {
    uint64_t NowMs;
    uint16_t Counter;
    uint16_t Wave;
    uint16_t Uptime;
};

TEST(SimDeviceTest, LiveInputRegistersFollowTheTime) {
    const TLiveCase cases[] = {
        {0, 0, 1000, 0},        {99, 0, 1010, 0},         {100, 1, 1010, 0},
        {5000, 50, 1500, 5},    {10000, 100, 1866, 10},   {15000, 150, 2000, 15},
        {30000, 300, 1000, 30}, {45000, 450, 0, 45},      {50000, 500, 134, 50},
        {60000, 600, 1000, 60}, {6553600, 0, 1989, 6553}, {65537500, 15, 1966, 1},
    };
    for (const TLiveCase& test : cases) {
        TSimDevice device(TDeviceSetup{});
        EXPECT_EQ(device.Answer(WithCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x04}), test.NowMs),
                  Registers(0x04, {test.Counter, test.Wave, test.Uptime, 0x1003}))
            << test.NowMs << " ms";
    }
}

TEST(SimDeviceTest, TheWaveStaysWithinItsRange) {
    TSimDevice device(TDeviceSetup{});
    uint16_t lowest = 0xFFFF;
    uint16_t highest = 0;
    for (uint64_t now = 0; now < 120000; now += 250) {
        const TAnswer answer = device.Answer(WithCrc({0x01, 0x04, 0x00, 0x01, 0x00, 0x01}), now);
        ASSERT_TRUE(answer);
        const auto wave = static_cast<uint16_t>(((*answer)[2] << 8) | (*answer)[3]);
        lowest = std::min(lowest, wave);
        highest = std::max(highest, wave);
    }
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 2000);
}

// A request, and what the device answers to it, in a sequence on one device.
struct TExchange {
    TBytes Frame;  // whole request frame without its CRC
    TAnswer Answer;
};

void RunExchanges(const std::string& name, const TDeviceSetup& setup,
                  const std::vector<TExchange>& exchanges) {
    TSimDevice device(setup);
    for (size_t i = 0; i < exchanges.size(); ++i) {
        EXPECT_EQ(device.Answer(WithCrc(exchanges[i].Frame), 0), exchanges[i].Answer)
            << name << ", step " << i;
    }
}

TEST(SimDeviceTest, WritesShowInLaterReads) {
    RunExchanges("write single", {},
                 {
                     {{0x01, 0x06, 0x00, 0x07, 0x04, 0xD2}, TBytes{0x06, 0x00, 0x07, 0x04, 0xD2}},
                     {{0x01, 0x03, 0x00, 0x06, 0x00, 0x03}, Registers(0x03, {6, 1234, 8})},
                 });
    RunExchanges(
        "write multiple", {},
        {
            {{0x01, 0x10, 0x00, 0x20, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78},
             TBytes{0x10, 0x00, 0x20, 0x00, 0x02}},
            {{0x01, 0x03, 0x00, 0x1F, 0x00, 0x04}, Registers(0x03, {0x1F, 0x1234, 0x5678, 0x22})},
        });
    RunExchanges(
        "refused writes change nothing", {},
        {
            {{0x01, 0x10, 0x8F, 0xFF, 0x00, 0x02, 0x04, 0xAA, 0xAA, 0xBB, 0xBB}, Refused(0x10, 2)},
            {{0x01, 0x10, 0x00, 0x00, 0x00, 0x02, 0x03, 0xAA, 0xAA, 0xBB}, Refused(0x10, 3)},
            {{0x01, 0x03, 0x8F, 0xFF, 0x00, 0x01}, Registers(0x03, {0x8FFF})},
            {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02}, Registers(0x03, {0, 1})},
        });
    RunExchanges("input registers are not writable", {},
                 {
                     {{0x01, 0x06, 0x00, 0x05, 0x00, 0x00}, TBytes{0x06, 0x00, 0x05, 0x00, 0x00}},
                     {{0x01, 0x04, 0x00, 0x05, 0x00, 0x01}, Registers(0x04, {0x1005})},
                 });
}

TEST(SimDeviceTest, OtherAddressesAndBroadcasts) {
    RunExchanges("another slave's requests are ignored", {},
                 {
                     {{0x02, 0x03, 0x00, 0x00, 0x00, 0x01}, std::nullopt},
                     {{0x02, 0x06, 0x00, 0x01, 0x00, 0x63}, std::nullopt},
                     {{0xF7, 0x45}, std::nullopt},
                     {{0x01, 0x03, 0x00, 0x01, 0x00, 0x01}, Registers(0x03, {1})},
                 });
    RunExchanges("broadcast writes are carried out without an answer", {},
                 {
                     {{0x00, 0x06, 0x00, 0x09, 0xAB, 0xCD}, std::nullopt},
                     {{0x00, 0x10, 0x00, 0x0A, 0x00, 0x01, 0x02, 0x12, 0x34}, std::nullopt},
                     {{0x01, 0x03, 0x00, 0x09, 0x00, 0x02}, Registers(0x03, {0xABCD, 0x1234})},
                 });
    RunExchanges("broadcast reads and faulty writes get no answer", {},
                 {
                     {{0x00, 0x03, 0x00, 0x00, 0x00, 0x01}, std::nullopt},
                     {{0x00, 0x45}, std::nullopt},
                     {{0x00, 0x06, 0x90, 0x00, 0x00, 0x01}, std::nullopt},
                     {{0x00, 0x2B, 0x0E}, std::nullopt},
                 });
    RunExchanges("another address set up", {.Address = 247},
                 {
                     {{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, std::nullopt},
                     {{0xF7, 0x03, 0x00, 0x02, 0x00, 0x01}, Registers(0x03, {2})},
                 });
}

TEST(SimDeviceTest, DeviceSectionReportsTheSetup) {
    RunExchanges("address 17, device type 0xBEEF", {.Address = 17, .DeviceType = 0xBEEF},
                 {
                     {{0x11, 0x45},
                      Concat({{0x45, 0x20, 0x00, 0x01, 0xBE, 0xEF, 0x01, 0x00, 0x00, 0x11, 0x20,
                               0x26, 0x00, 0x01},
                              Zeros(20)})},
                 });
}

TEST(SimDeviceTest, ForcedExceptionRefusesEverythingAndChangesNothing) {
    const TDeviceSetup setup{.ForcedException = 4};
    RunExchanges("exception 4", setup,
                 {
                     {{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, Refused(0x03, 4)},
                     {{0x01, 0x45}, Refused(0x45, 4)},
                     {{0x01, 0x2B, 0x0E}, Refused(0x2B, 4)},
                     {{0x01, 0x06, 0x00, 0x03, 0x12, 0x34}, Refused(0x06, 4)},
                     {{0x00, 0x06, 0x00, 0x04, 0x12, 0x34}, std::nullopt},
                     {{0x02, 0x03, 0x00, 0x00, 0x00, 0x01}, std::nullopt},
                 });
    TSimDevice device(setup);
    device.Answer(WithCrc({0x01, 0x06, 0x00, 0x03, 0x12, 0x34}), 0);
    device.Answer(WithCrc({0x00, 0x06, 0x00, 0x04, 0x12, 0x34}), 0);
    EXPECT_EQ(device.HoldingRegister(3), 3);
    EXPECT_EQ(device.HoldingRegister(4), 4);
}

TEST(SimDeviceTest, FramesTooShortToHoldAFunctionCodeGetNoAnswer) {
    TSimDevice device(TDeviceSetup{});
    EXPECT_EQ(device.Answer(TBytes{0x01, 0xC1, 0x80}, 0), std::nullopt);
    EXPECT_EQ(device.Answer(TBytes{}, 0), std::nullopt);
}

}  // namespace
