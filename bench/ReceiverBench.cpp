// The receive of 1024 bytes of worst-case noise: every byte equal to the slave address and the
// function code, and no valid CRC anywhere. Prints CPU time of the plain search and of the link.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "Crc16.h"
#include "FakeSerialIo.h"
#include "LiteralFindFrame.h"
#include "Ravo32.h"

namespace {

constexpr int kNoiseBytes = TRavo32::kRxSize;

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A byte whose runs of any length from 4 to 1024 never end in a zero CRC residue.
int NoiseByte() {
    for (int byte = 1; byte < 248; ++byte) {
        uint16_t crc = kCrc16Initial;
        bool valid = false;
        for (int length = 1; length <= kNoiseBytes && !valid; ++length) {
            crc = Crc16Step(crc, static_cast<uint8_t>(byte));
            valid = length >= 4 && crc == 0;
        }
        if (!valid) {
            return byte;
        }
    }
    return -1;
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// One whole receive by the link: the noise arrives in pieces of the given size, then the line
// stays silent and the exchange ends with its time-out.
double LinkReceiveMs(uint8_t byte, int pieceSize) {
    auto* io = new TFakeSerialIo;
    TRavo32 link{std::unique_ptr<TSerialIo>(io)};
    link.MapPort(1, "/dev/bench");
    link.Connect(1, byte, 115200);
    link.Frame.FrameBegin();
    link.Frame.FrameAdd(byte);
    link.Frame.FrameAdd(0x00);
    link.Frame.FrameAddCrc();
    for (int sent = 0; sent < kNoiseBytes; sent += pieceSize) {
        io->QueueChunk(std::vector<uint8_t>(static_cast<size_t>(pieceSize), byte));
    }
    io->ReadWaits.reserve(kNoiseBytes + 1);
    const double start = ThreadCpuMs();
    const bool answered = link.Transact(1000);
    const double spent = ThreadCpuMs() - start;
    if (answered || link.GetError() != 123) {
        std::fprintf(stderr, "bench-receiver: the noise was taken for an answer\n");
    }
    return spent;
}

}  // namespace

int main() {
    const int byte = NoiseByte();
    if (byte < 0) {
        std::fprintf(stderr, "bench-receiver: no byte value free of valid CRCs\n");
        return 1;
    }
    const auto noise = std::vector<uint8_t>(kNoiseBytes, static_cast<uint8_t>(byte));
    const auto value = static_cast<uint8_t>(byte);
    std::printf("bench-receiver: %d noise bytes, each 0x%02X (slave address and function code)\n",
                kNoiseBytes, byte);

    std::vector<double> literal;
    for (int run = 0; run < 3; ++run) {
        const double start = ThreadCpuMs();
        const auto frame = LiteralFindFrame(noise.data(), kNoiseBytes, value, value);
        literal.push_back(ThreadCpuMs() - start);
        if (frame) {
            std::fprintf(stderr, "bench-receiver: the literal search found a frame\n");
            return 1;
        }
    }

    std::vector<double> oneRead;
    std::vector<double> bytePerRead;
    for (int run = 0; run < 101; ++run) {
        oneRead.push_back(LinkReceiveMs(value, kNoiseBytes));
        bytePerRead.push_back(LinkReceiveMs(value, 1));
    }

    const double literalMs = Median(literal);
    const double oursMs = Median(oneRead);
    std::printf("literal search, bytes in one read:  %10.3f ms CPU (median of %zu)\n", literalMs,
                literal.size());
    std::printf("link receive, bytes in one read:    %10.3f ms CPU (median of %zu)\n", oursMs,
                oneRead.size());
    std::printf("link receive, one byte per read:    %10.3f ms CPU (median of %zu)\n",
                Median(bytePerRead), bytePerRead.size());
    std::printf(
        "worst-case receive of 1024 noise bytes: literal %.1f ms, ours %.3f ms, ratio %.0f\n",
        literalMs, oursMs, literalMs / oursMs);
    return 0;
}
