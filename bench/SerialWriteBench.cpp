// What the wait for the line costs a write: the serial port of this platform on a pseudo-terminal
// pair (run it through tests/link/serial-pty-test.sh; a Windows build's .exe runs under wine on
// the Win32 port). A pseudo-terminal has no line timing of its own, so a write's time is the
// driver's calls, the modelled hold of the last two characters and the wake-up after it: printed
// apart for a request of 8 bytes at 9600 and 115200 baud, and at 4000000 baud, where the hold is
// a few microseconds and the time is the calls alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "SerialIo.h"
#include "StopSignal.h"

namespace {

constexpr int kRounds = 300;
constexpr uint32_t kReadWaitMs = 5000;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

double Percentile(std::vector<double> samples, double share) {
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(share * static_cast<double>(samples.size() - 1))];
}

bool ReadAll(TSerialIo& port, size_t count, const TStopSignal& stop) {
    uint8_t buffer[256];
    size_t received = 0;
    size_t got = 0;
    while (received < count && port.Read(buffer, sizeof buffer, kReadWaitMs, got, stop)) {
        received += got;
    }
    return received >= count;
}

}  // namespace

int main() {
    const std::string devicePath = Environment("SERIAL_PTY_DEVICE");
    const std::string peerPath = Environment("SERIAL_PTY_PEER");
    if (devicePath.empty() || peerPath.empty()) {
        std::fprintf(stderr, "run through tests/link/serial-pty-test.sh <build> <this program>\n");
        return 2;
    }
    const std::vector<uint8_t> request{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
    TStopSignal stop;
    std::printf("%8s %14s %10s %15s %16s\n", "baud", "write median", "90th", "modelled hold",
                "calls, wake-up");
    for (const int32_t baud : {9600, 115200, 4000000}) {
        const std::unique_ptr<TSerialIo> device = MakePlatformSerialIo();
        const std::unique_ptr<TSerialIo> peer = MakePlatformSerialIo();
        TOpenFailure failure;
        if (!device->Open(devicePath, baud, failure) || !peer->Open(peerPath, baud, failure)) {
            std::fprintf(stderr, "open at %d baud: %s\n", baud, failure.Detail.c_str());
            return 1;
        }
        std::vector<double> writeUs;
        for (int round = 0; round < kRounds; ++round) {
            size_t written = 0;
            const auto start = std::chrono::steady_clock::now();
            const bool wrote = device->Write(request.data(), request.size(), written, 2000, stop);
            const auto end = std::chrono::steady_clock::now();
            if (!wrote || !ReadAll(*peer, request.size(), stop)) {
                std::fprintf(stderr, "round %d at %d baud failed\n", round, baud);
                return 1;
            }
            writeUs.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        const double median = Percentile(writeUs, 0.5);
        const auto hold = static_cast<double>(LineTimeUs(2, baud));
        std::printf("%8d %11.0f us %7.0f us %12.0f us %13.0f us\n", baud, median,
                    Percentile(writeUs, 0.9), hold, median - hold);
    }
    return 0;
}
