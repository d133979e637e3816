#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimBus.h"
#include "TestFrames.h"

namespace {

TBytes WriteZero(uint8_t address, uint16_t value) {
    return WithCrc(
        {address, 0x06, 0x00, 0x00, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

// Which slave answers at which speed the program's test on a terminal shows (SimPtyTest).
const TSlaveSetup kLine[] = {{3, 19200}, {7, 9600}, {7, 19200}, {12, std::nullopt}};

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
