#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimBus.h"
#include "TestFrames.h"

namespace {

// Holding register 0 of a slave, which reads 0 until written.
TBytes ReadZero(uint8_t address) {
    return WithCrc({address, 0x03, 0x00, 0x00, 0x00, 0x01});
}

TBytes WriteZero(uint8_t address, uint16_t value) {
    return WithCrc(
        {address, 0x06, 0x00, 0x00, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

const TSlaveSetup kLine[] = {{3, 19200}, {7, 9600}, {7, 19200}, {12, std::nullopt}};

struct THearCase {
    std::string Name;
    TBytes Request;
    uint32_t Baud;
    std::optional<size_t> Slave;  // the one that answers, if any
};

// Faults: a slave that answers at a speed it is not set to, at no speed, or in another's place.
TEST(SimBusTest, OnlyTheSlaveAtTheLinesSpeedAnswers) {
    const THearCase cases[] = {
        {"3 at its speed", ReadZero(3), 19200, 0},
        {"3 at another speed", ReadZero(3), 9600, std::nullopt},
        {"7 at 9600", ReadZero(7), 9600, 1},
        {"7 again at 19200: the other slave of that address", ReadZero(7), 19200, 2},
        {"7 at a speed neither reads", ReadZero(7), 14400, std::nullopt},
        {"12 at any speed", ReadZero(12), 14400, 3},
        {"12 with the speed unknown", ReadZero(12), 0, 3},
        {"an address nobody has", ReadZero(5), 19200, std::nullopt},
        {"a broadcast", WriteZero(0, 1), 19200, std::nullopt},
    };
    for (const THearCase& test : cases) {
        TSimBus bus(TDeviceSetup{}, kLine);
        const TBusAnswer heard = bus.Hear(test.Request, test.Baud, 0);
        EXPECT_EQ(heard.Slave, test.Slave) << test.Name;
        EXPECT_EQ(heard.Answer.has_value(), test.Slave.has_value()) << test.Name;
        if (test.Slave) {
            EXPECT_EQ(Hex(*heard.Answer), Hex(TBytes{0x03, 0x02, 0x00, 0x00})) << test.Name;
        }
    }
}

// Faults: registers shared between slaves, a write carried out by a slave that cannot read the
// line, a broadcast missed by a slave at the line's speed.
TEST(SimBusTest, EachSlaveKeepsItsOwnRegistersAndHearsOnlyAtItsSpeed) {
    TSimBus bus(TDeviceSetup{}, kLine);
    ASSERT_EQ(bus.Size(), 4U);
    EXPECT_FALSE(bus.Hear(WriteZero(0, 0xBBBB), 9600, 0).Answer);
    EXPECT_TRUE(bus.Hear(WriteZero(7, 0x0707), 9600, 0).Answer);
    EXPECT_FALSE(bus.Hear(WriteZero(3, 0x0303), 9600, 0).Answer);

    const uint16_t expected[] = {0, 0x0707, 0, 0xBBBB};
    for (size_t slave = 0; slave < bus.Size(); ++slave) {
        EXPECT_EQ(bus.Device(slave).HoldingRegister(0), expected[slave]) << "slave " << slave;
    }
}

}  // namespace
