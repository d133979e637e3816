#include "WirePlan.h"

#include <algorithm>

#include "Crc16.h"
#include "ModbusProtocol.h"

namespace {

constexpr int kMaxNoiseDraws = 64;

// True when a CRC-valid block from one of the addresses starts in the echo and runs into the
// noise or beyond: a master would take it for an answer. Noise holds neither address byte, so
// no such block can start inside it.
bool ForgesFrame(std::span<const uint8_t> stream, size_t echoLength, uint8_t slave,
                 uint8_t answerAddress) {
    for (size_t start = 0; start < echoLength; ++start) {
        if (stream[start] != slave && stream[start] != answerAddress) {
            continue;
        }
        uint16_t crc = kCrc16Initial;
        for (size_t end = start; end < stream.size(); ++end) {
            crc = Crc16Step(crc, stream[end]);
            if (end >= echoLength && end + 1 - start >= kMinFrameBytes && crc == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

std::vector<uint8_t> MakeFrame(uint8_t address, std::span<const uint8_t> pdu) {
    std::vector<uint8_t> frame{address};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    const uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

TWirePlanner::TWirePlanner(uint8_t slave, const TLineFaults& faults, uint32_t seed)
    : slave_(slave), faults_(faults), random_(seed) {}

TWirePlan TWirePlanner::Plan(std::span<const uint8_t> request,
                             const std::optional<std::vector<uint8_t>>& answer) {
    TWirePlan plan;
    std::span<const uint8_t> echo;
    if (faults_.Echo) {
        echo = request;
        plan.push_back({0, std::vector<uint8_t>(request.begin(), request.end())});
    }
    if (!answer || faults_.Silent) {
        return plan;
    }
    const uint8_t answerAddress = faults_.WrongAddress ? static_cast<uint8_t>(slave_ + 1) : slave_;
    std::vector<uint8_t> frame = MakeFrame(answerAddress, *answer);
    if (faults_.BadCrc) {
        frame.back() ^= 0xFF;
    }
    uint32_t wait = faults_.DelayMs;
    if (faults_.NoiseBytes > 0) {
        plan.push_back({wait, DrawNoise(echo, answerAddress, frame)});
        wait = 0;
    }
    const size_t pieces = std::clamp<size_t>(faults_.Pieces, 1, frame.size());
    size_t at = 0;
    for (size_t piece = 0; piece < pieces; ++piece) {
        // The first frame.size() % pieces pieces take one byte more.
        const size_t length = frame.size() / pieces + (piece < frame.size() % pieces ? 1 : 0);
        const auto begin = frame.begin() + static_cast<std::ptrdiff_t>(at);
        plan.push_back({piece == 0 ? wait : faults_.GapMs,
                        std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(length))});
        at += length;
    }
    return plan;
}

std::vector<uint8_t> TWirePlanner::DrawNoise(std::span<const uint8_t> echo, uint8_t answerAddress,
                                             std::span<const uint8_t> answer) {
    std::uniform_int_distribution<int> byteDistribution(0, 0xFF);
    std::vector<uint8_t> stream;
    for (int draw = 0; draw < kMaxNoiseDraws; ++draw) {
        stream.assign(echo.begin(), echo.end());
        while (stream.size() < echo.size() + faults_.NoiseBytes) {
            const auto byte = static_cast<uint8_t>(byteDistribution(random_));
            if (byte != slave_ && byte != answerAddress) {
                stream.push_back(byte);
            }
        }
        stream.insert(stream.end(), answer.begin(), answer.end());
        if (!ForgesFrame(stream, echo.size(), slave_, answerAddress)) {
            break;
        }
    }
    return std::vector<uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(echo.size()),
                                stream.end() - static_cast<std::ptrdiff_t>(answer.size()));
}
