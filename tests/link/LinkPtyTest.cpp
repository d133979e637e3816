// The link over real pseudo-terminals, against the simulator and against an independent slave
// built on libmodbus.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "ErrorText.h"
#include "Ravo32.h"
#include "SerialIo.h"
#include "SpawnedProgram.h"
#include "TestFrames.h"

namespace {

constexpr uint8_t kPort = 5;
constexpr int32_t kBaud = 19200;

class TLinkOnPty {
public:
    explicit TLinkOnPty(const std::string& path) { Link.MapPort(kPort, path); }
    TLinkOnPty(const std::string& path, std::unique_ptr<TSerialIo> io) : Link(std::move(io)) {
        Link.MapPort(kPort, path);
    }

    // Sends the PDU and, on success, checks the answer; the link's code either way.
    uint8_t Exchange(const TBytes& pdu, int32_t timeoutMs = 1000) {
        Link.Frame.FrameBegin();
        for (uint8_t byte : pdu) {
            Link.Frame.FrameAdd(byte);
        }
        Link.Frame.FrameAddCrc();
        if (!Link.Transact(timeoutMs)) {
            return Link.GetError();
        }
        const uint8_t* answer = nullptr;
        int32_t length = 0;
        const uint8_t code = Link.CheckAnswer(answer, length);
        Answer.assign(answer, answer + length);
        return code;
    }

    // Register k of a read answer.
    uint16_t Register(int k) const {
        return static_cast<uint16_t>((Answer.at(3 + 2 * static_cast<size_t>(k)) << 8) |
                                     Answer.at(4 + 2 * static_cast<size_t>(k)));
    }

    TRavo32 Link;
    TBytes Answer;
};

TEST(LinkOnSimulatorTest, ReadsWritesAndReadsBack) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--address", "17"}));
    TLinkOnPty pty(sim.Port);
    ASSERT_TRUE(pty.Link.Connect(kPort, 17, kBaud)) << sim.Port;

    ASSERT_EQ(pty.Exchange({0x03, 0x00, 0x10, 0x00, 0x0A}), ErrorCode::None);
    ASSERT_EQ(pty.Answer.size(), 25U);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(pty.Register(k), 0x10 + k);
    }

    ASSERT_EQ(pty.Exchange({0x06, 0x00, 0x11, 0xBE, 0xEF}), ErrorCode::None);
    ASSERT_EQ(pty.Exchange({0x10, 0x00, 0x12, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78}),
              ErrorCode::None);
    ASSERT_EQ(pty.Exchange({0x03, 0x00, 0x10, 0x00, 0x04}), ErrorCode::None);
    EXPECT_EQ(pty.Register(0), 0x10);
    EXPECT_EQ(pty.Register(1), 0xBEEF);
    EXPECT_EQ(pty.Register(2), 0x1234);
    EXPECT_EQ(pty.Register(3), 0x5678);

    ASSERT_EQ(pty.Exchange({0x04, 0x00, 0x00, 0x00, 0x03}), ErrorCode::None);
    EXPECT_EQ(pty.Answer.size(), 11U);
    ASSERT_EQ(pty.Exchange({0x45, 0x00, 0x00}), ErrorCode::None);
    EXPECT_EQ(pty.Register(1), 0x0003);

    // Two sub-requests: registers of file 1 and one event record.
    ASSERT_EQ(pty.Exchange({0x14, 0x0E, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x02, 0x06, 0x00, 0x06,
                            0x00, 0x03, 0x00, 0x10}),
              ErrorCode::None);
    EXPECT_EQ(pty.Register(1), 0x1002);

    EXPECT_EQ(pty.Exchange({0x03, 0xF0, 0x00, 0x00, 0x01}), 2) << "address outside the bank";
    EXPECT_EQ(pty.Exchange({0x2B, 0x0E, 0x01, 0x00}), 1) << "unknown function code";
    EXPECT_TRUE(pty.Link.Disconnect());
}

struct TFaultCase {
    std::string Name;
    std::vector<std::string> SimOptions;
    uint8_t LinkEcho;
    uint8_t Expected;
};

TEST(LinkOnSimulatorTest, LineFaultsGiveTheirCodes) {
    const TFaultCase cases[] = {
        {"echo removed", {"--echo"}, 1, ErrorCode::None},
        {"noise before the answer", {"--noise", "40"}, 0, ErrorCode::None},
        {"answer in pieces", {"--pieces", "4", "--gap", "15"}, 0, ErrorCode::None},
        {"echo, noise and pieces",
         {"--echo", "--noise", "20", "--pieces", "3"},
         1,
         ErrorCode::None},
        {"slow device", {"--delay", "150"}, 0, ErrorCode::None},
        {"silent device", {"--silent"}, 0, ErrorCode::AnswerTimeout},
        {"wrong address", {"--wrong-address"}, 0, ErrorCode::AnswerTimeout},
        {"damaged CRC", {"--bad-crc"}, 0, ErrorCode::AnswerTimeout},
        {"exception answer", {"--exception", "4"}, 0, 4},
        {"flood of noise", {"--noise", "1500"}, 0, ErrorCode::AnswerTimeout},
    };
    for (const TFaultCase& test : cases) {
        TRunningSim sim;
        ASSERT_TRUE(sim.Start(test.SimOptions)) << test.Name;
        TLinkOnPty pty(sim.Port);
        pty.Link.SetEcho(test.LinkEcho);
        ASSERT_TRUE(pty.Link.Connect(kPort, 1, kBaud)) << test.Name;
        EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x02}, 600), test.Expected) << test.Name;
        if (test.Expected == ErrorCode::None) {
            EXPECT_EQ(pty.Answer, WithCrc({0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x01})) << test.Name;
        }
    }
}

TEST(LinkOnSimulatorTest, WithoutTheEchoOptionTheEchoIsTakenForTheAnswer) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--echo"}));
    TLinkOnPty pty(sim.Port);
    ASSERT_TRUE(pty.Link.Connect(kPort, 1, kBaud));
    // The echo of a read request has no byte count that fits: a length error.
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x02}), ErrorCode::BadLength);
    EXPECT_EQ(pty.Answer, WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}));
}

TEST(LinkOnSimulatorTest, PortThatDoesNotExistOrIsTakenFailsWith122) {
    TLinkOnPty missing("/dev/does-not-exist-for-modbus");
    EXPECT_FALSE(missing.Link.Connect(kPort, 1, kBaud));
    EXPECT_EQ(missing.Link.GetError(), ErrorCode::PortOpen);
    EXPECT_FALSE(missing.Link.IsOpen());

    TRunningSim sim;
    ASSERT_TRUE(sim.Start({}));
    TLinkOnPty first(sim.Port);
    TLinkOnPty second(sim.Port);
    ASSERT_TRUE(first.Link.Connect(kPort, 1, kBaud));
    EXPECT_FALSE(second.Link.Connect(kPort, 1, kBaud));
    EXPECT_EQ(second.Link.GetError(), ErrorCode::PortOpen);

    // Once closed, the port is free for the next user.
    EXPECT_TRUE(first.Link.Disconnect());
    ASSERT_TRUE(second.Link.Connect(kPort, 1, kBaud));
    EXPECT_EQ(second.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}), ErrorCode::None);
}

TEST(LinkOnSimulatorTest, RatesTheDriverRefusesFailToOpen) {
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({}));
    TLinkOnPty pty(sim.Port);
    EXPECT_FALSE(pty.Link.Connect(kPort, 1, 0));
    EXPECT_FALSE(pty.Link.Connect(kPort, 1, -9600));
    EXPECT_FALSE(pty.Link.IsOpen());
    // Rates off the standard table are set as they are.
    ASSERT_TRUE(pty.Link.Connect(kPort, 1, 250000));
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}), ErrorCode::None);
}

// The platform's port, passed through, that tells when the link first waits for input: the device
// has the request before the write returns, which waits until its last characters left the line.
class TReadWatchingSerialIo final : public TSerialIo {
public:
    explicit TReadWatchingSerialIo(std::atomic<bool>& reading) : reading_(reading) {}

    bool Open(const std::string& path, int32_t baud, TOpenFailure& failure) override {
        return io_->Open(path, baud, failure);
    }
    bool Close() override { return io_->Close(); }
    bool IsOpen() const override { return io_->IsOpen(); }
    bool Discard(bool input, bool output) override { return io_->Discard(input, output); }
    bool SetModemLine(TModemLine line, bool raised) override {
        return io_->SetModemLine(line, raised);
    }
    bool Write(const uint8_t* data, size_t count, size_t& written, uint32_t limitMs,
               const TStopSignal& stop) override {
        return io_->Write(data, count, written, limitMs, stop);
    }
    bool Read(uint8_t* buffer, size_t capacity, uint32_t waitMs, size_t& got,
              const TStopSignal& stop) override {
        reading_ = true;
        return io_->Read(buffer, capacity, waitMs, got, stop);
    }

private:
    std::unique_ptr<TSerialIo> io_ = MakePlatformSerialIo();
    std::atomic<bool>& reading_;
};

// Starts a read with a 30 s time-out on a silent device, does the interruption once the device
// has taken the request and the link waits for the answer, and gives the exchange's code; none if
// it was not cut short within 10 s.
template <typename TInterrupt>
std::optional<uint8_t> InterruptedExchange(TInterrupt interrupt) {
    TRunningSim sim;
    if (!sim.Start({"--silent", "--verbose"})) {
        return std::nullopt;
    }
    std::atomic<bool> reading{false};
    TLinkOnPty pty(sim.Port, std::make_unique<TReadWatchingSerialIo>(reading));
    if (!pty.Link.Connect(kPort, 1, kBaud)) {
        return std::nullopt;
    }
    auto exchange = std::async(std::launch::async, [&pty] {
        return pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}, 30000);
    });
    const bool taken = sim.Process.WaitForLine("rx ", 5000).has_value();
    while (taken && !reading &&
           exchange.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        std::this_thread::yield();
    }
    interrupt(pty.Link, sim);
    if (!taken || exchange.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        pty.Link.RequestStop();
        return std::nullopt;
    }
    return exchange.get();
}

TEST(LinkOnSimulatorTest, AStopRequestWakesAWaitingReceive) {
    const auto code = InterruptedExchange([](TRavo32& link, TRunningSim&) { link.RequestStop(); });
    EXPECT_EQ(code, ErrorCode::AnswerTimeout);
}

TEST(LinkOnSimulatorTest, DeviceVanishingDuringARequestEndsItAt123) {
    const auto code = InterruptedExchange([](TRavo32&, TRunningSim& sim) { sim.Process.Stop(); });
    EXPECT_EQ(code, ErrorCode::AnswerTimeout);
}

// A pseudo-terminal pair whose slave side stays open, so its master never sees a hang-up when a
// user of the path closes it.
struct TPtyEnd {
    TPtyEnd() {
        char name[256] = {};
        if (openpty(&Master, &Slave, name, nullptr, nullptr) == 0) {
            Path = name;
            termios raw{};
            tcgetattr(Slave, &raw);
            cfmakeraw(&raw);
            tcsetattr(Slave, TCSANOW, &raw);
        }
    }
    ~TPtyEnd() {
        close(Slave);
        close(Master);
    }
    TPtyEnd(const TPtyEnd&) = delete;
    TPtyEnd& operator=(const TPtyEnd&) = delete;

    int Master = -1;
    int Slave = -1;
    std::string Path;
};

// A pseudo-terminal whose output was stopped by an XOFF under software flow control, which the
// link leaves as it finds it: writes back up like a port stuck on hardware flow control.
class TStuckPort {
public:
    TStuckPort() {
        termios settings{};
        tcgetattr(pty_.Slave, &settings);
        settings.c_iflag |= IXON;
        tcsetattr(pty_.Slave, TCSANOW, &settings);
        fcntl(pty_.Slave, F_SETFL, O_NONBLOCK);
        const uint8_t xoff = 0x13;
        if (write(pty_.Master, &xoff, 1) != 1) {
            return;
        }
        // The terminal takes the XOFF in asynchronously; a probe write fails once it has.
        for (int attempt = 0; attempt < 5000; ++attempt) {
            const uint8_t probe = 0;
            if (write(pty_.Slave, &probe, 1) < 0 && errno == EAGAIN) {
                Path = pty_.Path;
                return;
            }
            poll(nullptr, 0, 1);
        }
    }

    std::string Path;

private:
    TPtyEnd pty_;
};

TEST(LinkOnStuckPortTest, WriteGivesUpAfterItsBoundWith124) {
    TStuckPort port;
    ASSERT_FALSE(port.Path.empty());
    TLinkOnPty pty(port.Path);
    ASSERT_TRUE(pty.Link.Connect(kPort, 1, 115200));
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}), ErrorCode::PortOperation);
}

// True once the thread sleeps in the kernel, as a blocked wait does; false after 5 s.
bool WaitUntilAsleep(const std::atomic<pid_t>& thread) {
    for (int attempt = 0; attempt < 5000; ++attempt) {
        if (thread != 0) {
            std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
            std::string line;
            std::getline(stat, line);
            const size_t name = line.rfind(')');
            if (name != std::string::npos && line.compare(name, 3, ") S") == 0) {
                return true;
            }
        }
        poll(nullptr, 0, 1);
    }
    return false;
}

// Runs the wait on a thread of its own, requests a stop once that thread sleeps in it, and gives
// the wait's result; none when the stop did not end it within 2 s.
template <typename TResult>
std::optional<TResult> StopWhileWaiting(TRavo32& link, std::function<TResult()> wait) {
    std::atomic<pid_t> waiter{0};
    std::promise<TResult> result;
    std::thread thread([&] {
        waiter = gettid();
        result.set_value(wait());
    });
    const bool asleep = WaitUntilAsleep(waiter);
    link.RequestStop();
    auto future = result.get_future();
    const bool woken =
        future.wait_for(std::chrono::milliseconds(2000)) == std::future_status::ready;
    thread.join();
    if (!asleep || !woken) {
        return std::nullopt;
    }
    return future.get();
}

TEST(LinkOnStuckPortTest, AStopRequestWakesABlockedWrite) {
    TStuckPort port;
    ASSERT_FALSE(port.Path.empty());
    TLinkOnPty pty(port.Path);
    // At 50 baud the write of 8 bytes may take 2.6 s: the stop must end it long before.
    ASSERT_TRUE(pty.Link.Connect(kPort, 1, 50));
    const auto code = StopWhileWaiting<uint8_t>(pty.Link, [&pty] {
        return pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01});
    });
    EXPECT_EQ(code, ErrorCode::PortOperation);
}

TEST(LinkStopTest, AStopRequestWakesThePauseBetweenExchanges) {
    TRavo32 link;
    const auto paused = StopWhileWaiting<bool>(link, [&link] { return link.Pause(30000); });
    EXPECT_EQ(paused, false);
}

// The RS-485 line between the link's port and the slave's port. With the echo on it sends every
// request back, as a two-wire adapter on USB does, in its next delivery. Bytes cross the line
// after the silence that ends a frame on RTU (2 ms at 19200 baud): no device answers sooner.
class TRs485Line {
public:
    explicit TRs485Line(bool echo) : echo_(echo), stop_(eventfd(0, EFD_CLOEXEC)) {
        thread_ = std::thread([this] { Carry(); });
    }
    ~TRs485Line() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(stop_, &one, sizeof one);
        thread_.join();
        close(stop_);
    }
    TRs485Line(const TRs485Line&) = delete;
    TRs485Line& operator=(const TRs485Line&) = delete;

    TPtyEnd MasterPort;
    TPtyEnd SlavePort;

private:
    static constexpr int kSilenceMs = 2;

    static void Forward(int from, int to, bool echo) {
        uint8_t bytes[512];
        const ssize_t got = read(from, bytes, sizeof bytes);
        if (got <= 0) {
            return;
        }
        poll(nullptr, 0, kSilenceMs);
        if (echo) {
            [[maybe_unused]] const ssize_t echoed = write(from, bytes, static_cast<size_t>(got));
        }
        [[maybe_unused]] const ssize_t sent = write(to, bytes, static_cast<size_t>(got));
    }

    void Carry() {
        for (;;) {
            pollfd fds[3] = {
                {stop_, POLLIN, 0}, {MasterPort.Master, POLLIN, 0}, {SlavePort.Master, POLLIN, 0}};
            if (poll(fds, 3, -1) < 0 && errno != EINTR) {
                return;
            }
            if (fds[0].revents != 0) {
                return;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                Forward(MasterPort.Master, SlavePort.Master, echo_);
            }
            if ((fds[2].revents & POLLIN) != 0) {
                Forward(SlavePort.Master, MasterPort.Master, false);
            }
        }
    }

    bool echo_;
    int stop_;
    std::thread thread_;
};

// An independent slave: libmodbus on the far end of the line, registers 1000 + i holding and
// 2000 + i input.
class TLibmodbusSlave {
public:
    TLibmodbusSlave(int address, bool echoingLine) : line_(echoingLine) {
        context_ = modbus_new_rtu(line_.SlavePort.Path.c_str(), kBaud, 'N', 8, 1);
        mapping_ = modbus_mapping_new(0, 0, 100, 100);
        if (context_ == nullptr || mapping_ == nullptr ||
            modbus_set_slave(context_, address) != 0 || modbus_connect(context_) != 0) {
            return;
        }
        for (int i = 0; i < 100; ++i) {
            mapping_->tab_registers[i] = static_cast<uint16_t>(1000 + i);
            mapping_->tab_input_registers[i] = static_cast<uint16_t>(2000 + i);
        }
        modbus_set_indication_timeout(context_, 0, 50000);
        thread_ = std::thread([this] { Serve(); });
        Port = line_.MasterPort.Path;
    }

    ~TLibmodbusSlave() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (context_ != nullptr) {
            modbus_close(context_);
            modbus_free(context_);
        }
        if (mapping_ != nullptr) {
            modbus_mapping_free(mapping_);
        }
    }
    TLibmodbusSlave(const TLibmodbusSlave&) = delete;
    TLibmodbusSlave& operator=(const TLibmodbusSlave&) = delete;

    // The path the link opens; empty when the slave could not start.
    std::string Port;

private:
    void Serve() {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop_) {
            const int length = modbus_receive(context_, query);
            if (length > 0) {
                modbus_reply(context_, query, length, mapping_);
            }
        }
    }

    TRs485Line line_;
    modbus_t* context_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(LinkOnLibmodbusTest, TransactsWithAnIndependentSlave) {
    TLibmodbusSlave slave(9, false);
    ASSERT_FALSE(slave.Port.empty());
    TLinkOnPty pty(slave.Port);
    ASSERT_TRUE(pty.Link.Connect(kPort, 9, kBaud));

    ASSERT_EQ(pty.Exchange({0x03, 0x00, 0x05, 0x00, 0x03}), ErrorCode::None);
    EXPECT_EQ(pty.Register(0), 1005);
    EXPECT_EQ(pty.Register(2), 1007);
    ASSERT_EQ(pty.Exchange({0x04, 0x00, 0x00, 0x00, 0x02}), ErrorCode::None);
    EXPECT_EQ(pty.Register(1), 2001);

    ASSERT_EQ(pty.Exchange({0x06, 0x00, 0x0A, 0x04, 0xD2}), ErrorCode::None);
    ASSERT_EQ(pty.Exchange({0x10, 0x00, 0x0B, 0x00, 0x02, 0x04, 0x00, 0x01, 0xFF, 0xFF}),
              ErrorCode::None);
    ASSERT_EQ(pty.Exchange({0x03, 0x00, 0x0A, 0x00, 0x03}), ErrorCode::None);
    EXPECT_EQ(pty.Register(0), 1234);
    EXPECT_EQ(pty.Register(1), 1);
    EXPECT_EQ(pty.Register(2), 0xFFFF);

    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x63, 0x00, 0x02}), 2) << "beyond the mapping";

    TLinkOnPty other(slave.Port);
    EXPECT_FALSE(other.Link.Connect(kPort, 9, kBaud)) << "the port is taken";
    EXPECT_EQ(other.Link.GetError(), ErrorCode::PortOpen);
    EXPECT_TRUE(pty.Link.Disconnect());
    EXPECT_TRUE(other.Link.Connect(kPort, 9, kBaud)) << "and free again once closed";
}

TEST(LinkOnLibmodbusTest, EchoOfATwoWireLineIsRemoved) {
    TLibmodbusSlave slave(9, true);
    ASSERT_FALSE(slave.Port.empty());
    TLinkOnPty pty(slave.Port);
    pty.Link.SetEcho(1);
    ASSERT_TRUE(pty.Link.Connect(kPort, 9, kBaud));
    ASSERT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x02}), ErrorCode::None);
    EXPECT_EQ(pty.Answer, WithCrc({0x09, 0x03, 0x04, 0x03, 0xE8, 0x03, 0xE9}));
    // A write-single answer repeats the request: after the echo it is still taken.
    ASSERT_EQ(pty.Exchange({0x06, 0x00, 0x01, 0x00, 0x03}), ErrorCode::None);
    EXPECT_EQ(pty.Answer, WithCrc({0x09, 0x06, 0x00, 0x01, 0x00, 0x03}));

    // Without the option, the echo is the answer: a read request's echo has no fitting count.
    pty.Link.SetEcho(0);
    ASSERT_TRUE(pty.Link.Connect(kPort, 9, kBaud));
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x02}), ErrorCode::BadLength);
}

TEST(LinkOnLibmodbusTest, EchoOptionWithoutAnEchoAndOtherAddresses) {
    TLibmodbusSlave slave(9, false);
    ASSERT_FALSE(slave.Port.empty());
    TLinkOnPty pty(slave.Port);

    // With the echo option on, an answer without echo is still taken, unless it repeats the
    // request byte for byte, as a write-single answer does.
    pty.Link.SetEcho(1);
    ASSERT_TRUE(pty.Link.Connect(kPort, 9, kBaud));
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}), ErrorCode::None);
    EXPECT_EQ(pty.Exchange({0x06, 0x00, 0x01, 0x00, 0x03}, 300), ErrorCode::AnswerTimeout);

    // Last: the slave then takes the next frame on the line for the other device's answer.
    pty.Link.SetEcho(0);
    ASSERT_TRUE(pty.Link.Connect(kPort, 10, kBaud));
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}, 300), ErrorCode::AnswerTimeout);
}

// Unmapped numbers name the serial ports of Linux: COM1 is /dev/ttyS0.
TEST(PlatformPortPathTest, ComNumbersAreTtySDevices) {
    EXPECT_EQ(PlatformPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(PlatformPortPath(3), "/dev/ttyS2");
    EXPECT_EQ(PlatformPortPath(255), "/dev/ttyS254");
}

}  // namespace
