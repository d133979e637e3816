// The link over real pseudo-terminals, against the simulator and against an independent slave
// built on libmodbus.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "ErrorText.h"
#include "Ravo32.h"
#include "SpawnedProgram.h"
#include "TestFrames.h"

namespace {

constexpr uint8_t kPort = 5;
constexpr int32_t kBaud = 19200;

class TLinkOnPty {
public:
    explicit TLinkOnPty(const std::string& path) { Link.MapPort(kPort, path); }

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

// Starts a read with a 30 s time-out on a silent device, does the interruption once the device
// has taken the request, and gives the exchange's code; none if it was not cut short within 10 s.
template <typename TInterrupt>
std::optional<uint8_t> InterruptedExchange(TInterrupt interrupt) {
    TRunningSim sim;
    if (!sim.Start({"--silent", "--verbose"})) {
        return std::nullopt;
    }
    TLinkOnPty pty(sim.Port);
    if (!pty.Link.Connect(kPort, 1, kBaud)) {
        return std::nullopt;
    }
    auto exchange = std::async(std::launch::async, [&pty] {
        return pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}, 30000);
    });
    const bool taken = sim.Process.WaitForLine("rx ", 5000).has_value();
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

// A pseudo-terminal whose output was stopped by an XOFF under software flow control, which the
// link leaves as it finds it: writes back up like a port stuck on hardware flow control.
class TStuckPort {
public:
    TStuckPort() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            return;
        }
        termios settings{};
        tcgetattr(slave_, &settings);
        cfmakeraw(&settings);
        settings.c_iflag |= IXON;
        tcsetattr(slave_, TCSANOW, &settings);
        fcntl(slave_, F_SETFL, O_NONBLOCK);
        const uint8_t xoff = 0x13;
        if (write(master_, &xoff, 1) != 1) {
            return;
        }
        // The terminal takes the XOFF in asynchronously; a probe write fails once it has.
        for (int attempt = 0; attempt < 5000; ++attempt) {
            const uint8_t probe = 0;
            if (write(slave_, &probe, 1) < 0 && errno == EAGAIN) {
                Path = name;
                return;
            }
            poll(nullptr, 0, 1);
        }
    }
    ~TStuckPort() {
        close(slave_);
        close(master_);
    }

    std::string Path;

private:
    int master_ = -1;
    int slave_ = -1;
};

TEST(LinkOnStuckPortTest, WriteGivesUpAfterItsBoundWith124) {
    TStuckPort port;
    ASSERT_FALSE(port.Path.empty());
    TLinkOnPty pty(port.Path);
    ASSERT_TRUE(pty.Link.Connect(kPort, 1, 115200));
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}), ErrorCode::PortOperation);
}

// True once the thread sleeps in the kernel, as a blocked write's wait does; false after 5 s.
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

TEST(LinkOnStuckPortTest, AStopRequestWakesABlockedWrite) {
    TStuckPort port;
    ASSERT_FALSE(port.Path.empty());
    TLinkOnPty pty(port.Path);
    // At 50 baud the write of 8 bytes may take 2.6 s: the stop must end it long before.
    ASSERT_TRUE(pty.Link.Connect(kPort, 1, 50));
    std::atomic<pid_t> writer{0};
    std::promise<uint8_t> code;
    std::thread exchange([&] {
        writer = gettid();
        code.set_value(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}));
    });
    EXPECT_TRUE(WaitUntilAsleep(writer));
    pty.Link.RequestStop();
    auto result = code.get_future();
    const bool woken =
        result.wait_for(std::chrono::milliseconds(2000)) == std::future_status::ready;
    exchange.join();
    EXPECT_TRUE(woken);
    EXPECT_EQ(result.get(), ErrorCode::PortOperation);
}

// An independent slave: libmodbus on one end of a pseudo-terminal pair that socat joins.
class TLibmodbusSlave {
public:
    ~TLibmodbusSlave() { Stop(); }

    bool Start(int address) {
        char folder[] = "/tmp/modbus-link-test-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            return false;
        }
        folder_ = folder;
        SlavePath = folder_ + "/slave";
        MasterPath = folder_ + "/master";
        if (!socat_.Start("socat", {"-d", "-d", "pty,raw,echo=0,link=" + SlavePath,
                                    "pty,raw,echo=0,link=" + MasterPath}) ||
            !socat_.WaitForErrorLine("starting data transfer loop", 5000)) {
            return false;
        }
        // Keeps the master side's terminal alive while the link opens and closes it.
        holder_ = open(MasterPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);

        context_ = modbus_new_rtu(SlavePath.c_str(), kBaud, 'N', 8, 1);
        mapping_ = modbus_mapping_new(0, 0, 100, 100);
        if (context_ == nullptr || mapping_ == nullptr ||
            modbus_set_slave(context_, address) != 0 || modbus_connect(context_) != 0) {
            return false;
        }
        for (int i = 0; i < 100; ++i) {
            mapping_->tab_registers[i] = static_cast<uint16_t>(1000 + i);
            mapping_->tab_input_registers[i] = static_cast<uint16_t>(2000 + i);
        }
        modbus_set_indication_timeout(context_, 0, 50000);
        thread_ = std::thread([this] { Serve(); });
        return true;
    }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (context_ != nullptr) {
            modbus_close(context_);
            modbus_free(context_);
            context_ = nullptr;
        }
        if (mapping_ != nullptr) {
            modbus_mapping_free(mapping_);
            mapping_ = nullptr;
        }
        if (holder_ >= 0) {
            close(holder_);
            holder_ = -1;
        }
        socat_.Stop();
        if (!folder_.empty()) {
            rmdir(folder_.c_str());
            folder_.clear();
        }
    }

    std::string SlavePath;
    std::string MasterPath;

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

    TSpawnedProgram socat_;
    std::string folder_;
    int holder_ = -1;
    modbus_t* context_ = nullptr;
    modbus_mapping_t* mapping_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(LinkOnLibmodbusTest, TransactsWithAnIndependentSlave) {
    TLibmodbusSlave slave;
    ASSERT_TRUE(slave.Start(9));
    TLinkOnPty pty(slave.MasterPath);
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
    EXPECT_TRUE(pty.Link.Disconnect());
}

TEST(LinkOnLibmodbusTest, EchoOptionEatsAnEqualAnswerAndOtherAddressesTimeOut) {
    TLibmodbusSlave slave;
    ASSERT_TRUE(slave.Start(9));
    TLinkOnPty pty(slave.MasterPath);

    // With the echo option on, an answer without echo is still taken, unless it repeats the
    // request byte for byte, as a write-single answer does.
    pty.Link.SetEcho(1);
    ASSERT_TRUE(pty.Link.Connect(kPort, 9, kBaud));
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}), ErrorCode::None);
    EXPECT_EQ(pty.Exchange({0x06, 0x00, 0x01, 0x00, 0x03}, 300), ErrorCode::AnswerTimeout);

    TLinkOnPty other(slave.MasterPath);
    EXPECT_FALSE(other.Link.Connect(kPort, 9, kBaud)) << "the port is taken";
    EXPECT_EQ(other.Link.GetError(), ErrorCode::PortOpen);

    // Last: the slave then takes the next frame on the line for the other device's answer.
    pty.Link.SetEcho(0);
    ASSERT_TRUE(pty.Link.Connect(kPort, 10, kBaud));
    EXPECT_EQ(pty.Exchange({0x03, 0x00, 0x00, 0x00, 0x01}, 300), ErrorCode::AnswerTimeout);
}

}  // namespace
