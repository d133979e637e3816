#include <gtest/gtest.h>

#include <string>

#include "Comp32.h"
#include "Crc16.h"
#include "FrameBuilder.h"
#include "LiteralFindFrame.h"
#include "TestFrames.h"

namespace {

struct TCrcVector {
    TBytes Block;
    uint16_t Crc;
};

TEST(Crc16Test, MatchesKnownVectors) {
    const TCrcVector vectors[] = {
        {{}, 0xFFFF},
        {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x4B37},
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xCDC5},
        {{0x01, 0x06, 0x00, 0x01, 0x00, 0x03}, 0x0B98},
        {{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x8776},
        {{0x00}, 0x40BF},
        {{0xFF}, 0x00FF},
    };
    for (const TCrcVector& vector : vectors) {
        EXPECT_EQ(Crc16(vector.Block.data(), vector.Block.size()), vector.Crc)
            << TComp32::ToHex(vector.Block.data(), static_cast<int>(vector.Block.size()));
    }
}

TEST(Crc16Test, TableStepAgreesWithBitwiseCrcOnEveryByteAfterEveryState) {
    uint32_t seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        TBytes block(static_cast<size_t>(round % 64));
        for (uint8_t& byte : block) {
            seed = seed * 1103515245U + 12345U;
            byte = static_cast<uint8_t>(seed >> 16);
        }
        ASSERT_EQ(Crc16(block.data(), block.size()),
                  LiteralCrc16(block.data(), static_cast<int>(block.size())));
    }
}

TEST(CheckCrcTest, AcceptsOnlyBlocksEndingInTheirCrcLowByteFirst) {
    const TBytes frame = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    EXPECT_EQ(frame[6], 0xC5);
    EXPECT_EQ(frame[7], 0xCD);
    EXPECT_TRUE(CheckCrc(frame.data(), 8));

    TBytes swapped = frame;
    std::swap(swapped[6], swapped[7]);
    EXPECT_FALSE(CheckCrc(swapped.data(), 8));

    TBytes damaged = frame;
    damaged[3] ^= 0x01;
    EXPECT_FALSE(CheckCrc(damaged.data(), 8));

    // Two bytes or fewer never hold a frame, even the CRC of nothing (FF FF).
    const uint8_t crcOfNothing[] = {0xFF, 0xFF};
    EXPECT_FALSE(CheckCrc(crcOfNothing, 2));
    EXPECT_FALSE(CheckCrc(crcOfNothing, 0));
    const TBytes oneByte = WithCrc({0x07});
    EXPECT_TRUE(CheckCrc(oneByte.data(), 3));
}

TEST(ToHexTest, TwoUpperCaseDigitsPerByteWithoutSeparators) {
    const uint8_t bytes[] = {0x01, 0x03, 0xAB, 0x00, 0xFF};
    EXPECT_EQ(TComp32::ToHex(bytes, 3), "0103AB");
    EXPECT_EQ(TComp32::ToHex(bytes, 5), "0103AB00FF");
    EXPECT_EQ(TComp32::ToHex(bytes, 0), "");
    EXPECT_EQ(TComp32::ToHex(bytes, -1), "");
}

class FrameBuilderTest : public ::testing::Test {
protected:
    void SetUp() override { Builder.FrameSetup(0x11, Buffer, 256); }

    TBytes Built() const { return TBytes(Buffer, Buffer + Builder.FrameLen); }

    uint8_t Buffer[256] = {};
    TFrameBuilder Builder;
};

TEST_F(FrameBuilderTest, BuildsAddressPduAndCrc) {
    Builder.AnswerLen = 9;
    EXPECT_TRUE(Builder.FrameBegin());
    EXPECT_EQ(Builder.AnswerLen, 0);
    for (uint8_t byte : TBytes{0x03, 0x00, 0x6B, 0x00, 0x03}) {
        EXPECT_TRUE(Builder.FrameAdd(byte));
    }
    EXPECT_TRUE(Builder.FrameAddCrc());
    EXPECT_EQ(Built(), (TBytes{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87}));
}

TEST_F(FrameBuilderTest, BeginStartsAFreshFrame) {
    Builder.FrameBegin();
    Builder.FrameAdd(0x06);
    Builder.FrameAddCrc();
    Builder.FrameBegin();
    EXPECT_EQ(Built(), TBytes{0x11});
}

TEST_F(FrameBuilderTest, DropsBytesBeyondCapacityIncludingTheCrc) {
    Builder.FrameBegin();
    int stored = 0;
    for (int i = 0; i < 260; ++i) {
        stored += Builder.FrameAdd(static_cast<uint8_t>(i)) ? 1 : 0;
    }
    EXPECT_EQ(stored, 255);
    EXPECT_EQ(Builder.FrameLen, 256);
    EXPECT_FALSE(Builder.FrameAddCrc());
    EXPECT_EQ(Builder.FrameLen, 256);
    EXPECT_EQ(Buffer[255], 254);
}

TEST_F(FrameBuilderTest, CrcThatOnlyHalfFitsKeepsItsLowByte) {
    Builder.FrameBegin();
    for (int i = 0; i < 254; ++i) {
        Builder.FrameAdd(0x10);
    }
    EXPECT_FALSE(Builder.FrameAddCrc());
    EXPECT_EQ(Builder.FrameLen, 256);
    const uint16_t crc = Crc16(Buffer, 255);
    EXPECT_EQ(Buffer[255], crc & 0xFF);
}

TEST_F(FrameBuilderTest, ResetRefusesBytesUntilSetUpAgain) {
    Builder.Reset();
    EXPECT_FALSE(Builder.FrameBegin());
    EXPECT_FALSE(Builder.FrameAdd(0x03));
    EXPECT_FALSE(Builder.FrameAddCrc());
    EXPECT_EQ(Builder.FrameLen, 0);
}

}  // namespace
