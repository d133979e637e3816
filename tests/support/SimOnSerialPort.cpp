// The simulated slave in this process: modbus-sim's framer, device and line faults on a serial
// port of the platform (the peer end of a pseudo-terminal pair), answering on a thread of its
// own until the test ends.
#include <atomic>
#include <cstdlib>
#include <span>
#include <string_view>
#include <thread>

#include "MonotonicClock.h"
#include "RequestFramer.h"
#include "SerialIo.h"
#include "SimDevice.h"
#include "SimOptions.h"
#include "StopSignal.h"
#include "TestDevice.h"
#include "WirePlan.h"

namespace {

// The line runs at a rate fixed for the test; a pseudo-terminal has no baud timing anyway.
constexpr int32_t kBaud = 115200;
// A partial frame is dropped once the line has been quiet this long, as modbus-sim does.
constexpr uint64_t kQuietMs = 100;
constexpr uint32_t kReadWaitMs = 50;
constexpr uint32_t kWriteBoundMs = 5000;

std::string FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

class TTestDevice::TRunning {
public:
    TRunning(const TSimOptions& options, std::unique_ptr<TSerialIo> port)
        : Options(options), Port(std::move(port)), Thread([this] { Serve(); }) {}

    ~TRunning() {
        Stop.Request();
        Thread.join();
        Port->Close();
    }

private:
    void Serve() {
        TRequestFramer framer;
        TSimDevice device(Options.Device);
        TWirePlanner planner(Options.Device.Address, Options.Faults, 20261207);
        const uint64_t startMs = MonotonicMs();
        uint64_t lastReceiveMs = startMs;
        uint8_t buffer[4096];
        while (!Stop.Requested()) {
            size_t got = 0;
            if (!Port->Read(buffer, sizeof buffer, kReadWaitMs, got, Stop) || got == 0) {
                if (framer.Held() > 0 && MonotonicMs() - lastReceiveMs > kQuietMs) {
                    framer.Expire();
                }
                continue;
            }
            lastReceiveMs = MonotonicMs();
            for (const TFrame& frame : framer.Push(std::span<const uint8_t>(buffer, got))) {
                const auto answer = device.Answer(frame, MonotonicMs() - startMs);
                for (const TChunk& chunk : planner.Plan(frame, answer)) {
                    if (chunk.WaitMs > 0 && !Stop.WaitFor(chunk.WaitMs)) {
                        return;
                    }
                    size_t written = 0;
                    Port->Write(chunk.Bytes.data(), chunk.Bytes.size(), written, kWriteBoundMs,
                                Stop);
                }
            }
        }
    }

    const TSimOptions Options;
    std::unique_ptr<TSerialIo> Port;
    TStopSignal Stop;
    std::thread Thread;
};

TTestDevice::TTestDevice() = default;

TTestDevice::~TTestDevice() = default;

bool TTestDevice::Start(const std::vector<std::string>& options) {
    Running.reset();
    const std::vector<std::string_view> words(options.begin(), options.end());
    const TParsedOptions parsed = ParseOptions(words);
    const std::string peer = FromEnvironment("SERIAL_PTY_PEER");
    Path = FromEnvironment("SERIAL_PTY_DEVICE");
    if (!parsed.Error.empty() || peer.empty() || Path.empty()) {
        return false;
    }
    std::unique_ptr<TSerialIo> port = MakePlatformSerialIo();
    TOpenFailure failure;
    if (!port->Open(peer, kBaud, failure)) {
        return false;
    }
    Running = std::make_unique<TRunning>(parsed.Options, std::move(port));
    return true;
}
