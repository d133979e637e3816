#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

// Faults of the line and of the device that shape every answer on its way out.
struct TLineFaults {
    bool Echo = false;          // every request comes straight back, as from a two-wire adapter
    uint32_t NoiseBytes = 0;    // random bytes before the answer
    uint32_t DelayMs = 0;       // wait before the answer
    uint32_t Pieces = 1;        // the answer goes out in this many pieces
    uint32_t GapMs = 20;        // wait between pieces
    bool WrongAddress = false;  // the answer claims to come from the next address
    bool BadCrc = false;
    bool Silent = false;  // the device carries requests out but its answers never reach the line
};

// One write to the line after a wait.
struct TChunk {
    uint32_t WaitMs = 0;
    std::vector<uint8_t> Bytes;

    friend bool operator==(const TChunk&, const TChunk&) = default;
};

using TWirePlan = std::vector<TChunk>;

// Turns a request and the device's answer into the writes that put them on the line with the
// faults applied. Noise comes from a seeded generator, so a test can repeat it.
class TWirePlanner {
public:
    TWirePlanner(uint8_t slave, const TLineFaults& faults, uint32_t seed);

    // The request frame as taken from the line; the answer PDU, or none when the device keeps
    // quiet.
    TWirePlan Plan(std::span<const uint8_t> request,
                   const std::optional<std::vector<uint8_t>>& answer);

private:
    std::vector<uint8_t> DrawNoise(std::span<const uint8_t> echo, uint8_t answerAddress,
                                   std::span<const uint8_t> answer);

    uint8_t slave_;
    TLineFaults faults_;
    std::mt19937 random_;
};

// The answer frame for a PDU: address, PDU and its CRC, low byte first.
std::vector<uint8_t> MakeFrame(uint8_t address, std::span<const uint8_t> pdu);
