#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SerialIo.h"
#include "StopSignal.h"

// The platform's serial port on a real line: the two ends of a pseudo-terminal pair that socat
// holds (serial-pty-test.sh; under wine mapped as two COM ports), so the test writes on one and
// reads on the other. The same cases run against termios and against the Win32 port. The time
// bounds are hang checks, generous for a busy machine, not speed goals.
namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kBaud = 9600;
constexpr uint32_t kHangBoundMs = 5000;

std::string PortFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class SerialPtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string devicePath = PortFromEnvironment("SERIAL_PTY_DEVICE");
        const std::string peerPath = PortFromEnvironment("SERIAL_PTY_PEER");
        ASSERT_FALSE(devicePath.empty() || peerPath.empty())
            << "SERIAL_PTY_DEVICE and SERIAL_PTY_PEER name the two ends (serial-pty-test.sh)";
        ASSERT_TRUE(stop.Ready());
        TOpenFailure failure;
        ASSERT_TRUE(device->Open(devicePath, kBaud, failure))
            << devicePath << ": " << failure.Detail;
        ASSERT_TRUE(peer->Open(peerPath, kBaud, failure)) << peerPath << ": " << failure.Detail;
    }

    void Send(const std::vector<uint8_t>& bytes) {
        size_t written = 0;
        ASSERT_TRUE(peer->Write(bytes.data(), bytes.size(), written, kHangBoundMs, stop));
        ASSERT_EQ(written, bytes.size());
    }

    // Reads until count bytes came, each read bounded by the hang bound.
    std::vector<uint8_t> Receive(size_t count) {
        std::vector<uint8_t> received;
        uint8_t buffer[4096];
        size_t got = 0;
        while (received.size() < count &&
               device->Read(buffer, sizeof buffer, kHangBoundMs, got, stop)) {
            received.insert(received.end(), buffer, buffer + got);
        }
        return received;
    }

    // Reads on the peer until the bytes came, after whatever an earlier case left on the line.
    bool PeerReceives(const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> received;
        uint8_t buffer[4096];
        size_t got = 0;
        while (peer->Read(buffer, sizeof buffer, kHangBoundMs, got, stop)) {
            received.insert(received.end(), buffer, buffer + got);
            if (received.size() >= bytes.size() &&
                std::equal(bytes.rbegin(), bytes.rend(), received.rbegin())) {
                return true;
            }
        }
        return false;
    }

    TStopSignal stop;
    std::unique_ptr<TSerialIo> device = MakePlatformSerialIo();
    std::unique_ptr<TSerialIo> peer = MakePlatformSerialIo();
};

TEST_F(SerialPtyTest, AReadReturnsTheBytesThatArrivedInOrder) {
    std::vector<uint8_t> sent;
    for (int i = 0; i < 300; ++i) {
        sent.push_back(static_cast<uint8_t>(i * 7));
    }
    Send(sent);
    EXPECT_EQ(Receive(sent.size()), sent);
}

// More bytes than the buffer holds: the read fails and leaves them queued; the next read
// returns them without waiting for another byte, which would never come.
TEST_F(SerialPtyTest, BytesAlreadyHeldEndTheWaitAtOnce) {
    const std::vector<uint8_t> sent(64, 0x5A);
    Send(sent);
    std::vector<uint8_t> received;
    uint8_t small[8];
    size_t got = 0;
    while (device->Read(small, sizeof small, kHangBoundMs, got, stop)) {
        received.insert(received.end(), small, small + got);
        ASSERT_LT(received.size(), sent.size()) << "never more held than the small buffer";
    }
    const auto start = Clock::now();
    uint8_t buffer[4096];
    ASSERT_TRUE(device->Read(buffer, sizeof buffer, 60000, got, stop));
    EXPECT_LT(MsSince(start), kHangBoundMs);
    received.insert(received.end(), buffer, buffer + got);
    received.resize(std::min(received.size(), sent.size()));
    const std::vector<uint8_t> rest = Receive(sent.size() - received.size());
    received.insert(received.end(), rest.begin(), rest.end());
    EXPECT_EQ(received, sent);
}

// Nothing arrives: the read fails, neither before its wait time (a driver's wait that ends
// without an event is no time-out) nor long after it.
TEST_F(SerialPtyTest, AReadTimesOutWithinItsBound) {
    for (const uint32_t waitMs : {0U, 50U, 300U}) {
        uint8_t buffer[64];
        size_t got = 99;
        const auto start = Clock::now();
        EXPECT_FALSE(device->Read(buffer, sizeof buffer, waitMs, got, stop));
        const int64_t elapsed = MsSince(start);
        EXPECT_EQ(got, 0U);
        EXPECT_GE(elapsed, static_cast<int64_t>(waitMs)) << waitMs;
        EXPECT_LT(elapsed, static_cast<int64_t>(waitMs + kHangBoundMs)) << waitMs;
    }
}

// A stop from another thread ends a long read at once, wherever in the read it lands; the
// port stays usable once the stop is reset.
TEST_F(SerialPtyTest, AStopWakesAWaitingRead) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> reading{false};
        bool read = true;
        int64_t elapsed = 0;
        std::thread reader([&] {
            uint8_t buffer[64];
            size_t got = 0;
            const auto start = Clock::now();
            reading = true;
            read = device->Read(buffer, sizeof buffer, 60000, got, stop);
            elapsed = MsSince(start);
        });
        while (!reading) {
            std::this_thread::yield();
        }
        stop.Request();
        reader.join();
        EXPECT_FALSE(read);
        EXPECT_LT(elapsed, kHangBoundMs) << "round " << round;
        stop.Reset();
    }
    Send({1, 2, 3});
    EXPECT_EQ(Receive(3), (std::vector<uint8_t>{1, 2, 3}));
}

// Under a stop nothing waits: a write that the driver cannot take at once fails, and a pause
// ends.
TEST_F(SerialPtyTest, UnderAStopNeitherAWriteNorAPauseWaits) {
    stop.Request();
    const std::vector<uint8_t> block(64, 0xA5);
    size_t written = 0;
    const auto start = Clock::now();
    device->Write(block.data(), block.size(), written, 60000, stop);
    EXPECT_FALSE(stop.WaitFor(60000));
    EXPECT_FALSE(stop.WaitForMicroseconds(60000000));
    EXPECT_LT(MsSince(start), kHangBoundMs);
}

// A write returns once its last characters have left the line, not when the driver took them:
// an RS-485 adapter turns to receive as soon as it returns. A pseudo-terminal passes the bytes to
// its reader at once and reports no queue, so what remains is the line time of the two
// characters a UART may still hold; at one baud that is twenty seconds, and the reader has the
// bytes long before the write may return. A stop in that wait ends the write at once, as a
// failure.
TEST_F(SerialPtyTest, AWriteWaitsUntilItsLastCharactersLeftTheLineAndAStopEndsThatWait) {
    TOpenFailure failure;
    ASSERT_TRUE(device->Open(PortFromEnvironment("SERIAL_PTY_DEVICE"), 1, failure))
        << failure.Detail;
    const std::vector<uint8_t> request{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    std::atomic<bool> returned{false};
    bool wrote = true;
    std::thread writer([&] {
        size_t written = 0;
        wrote = device->Write(request.data(), request.size(), written, 60000, stop);
        returned = true;
    });
    EXPECT_TRUE(PeerReceives(request));
    EXPECT_FALSE(returned) << "the write returned while its last characters were on the line";
    const auto start = Clock::now();
    stop.Request();
    writer.join();
    EXPECT_FALSE(wrote) << "a write cut short by a stop reported success";
    EXPECT_LT(MsSince(start), kHangBoundMs);
}

TEST(SerialPortOpenTest, APortThatIsNotThereOrABadRateFailsAndLeavesItClosed) {
    const std::string devicePath = PortFromEnvironment("SERIAL_PTY_DEVICE");
    const std::unique_ptr<TSerialIo> io = MakePlatformSerialIo();
    TOpenFailure failure;
    EXPECT_FALSE(io->Open(PlatformPortPath(200), kBaud, failure));
    EXPECT_FALSE(io->IsOpen());
    EXPECT_EQ(failure.Cause, TOpenCause::NoDevice) << failure.Detail;
    EXPECT_FALSE(io->Open(devicePath, 0, failure));
    EXPECT_FALSE(io->IsOpen());
    EXPECT_EQ(failure.Cause, TOpenCause::Speed) << failure.Detail;
    EXPECT_FALSE(io->Close());
}

}  // namespace
