#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "FakeSerialIo.h"
#include "FuzzCheck.h"

// Reads a fuzzer input front to back; past its end every read gives zeros or nothing, so any
// input is a valid one.
class TFuzzInput {
public:
    TFuzzInput(const uint8_t* data, size_t size) : Rest(data, size) {}

    uint8_t Byte() {
        if (Rest.empty()) {
            return 0;
        }
        const uint8_t value = Rest.front();
        Rest = Rest.subspan(1);
        return value;
    }

    // Big-endian, as the seeds are easiest to read in hex that way.
    uint16_t Word() {
        const uint8_t high = Byte();
        return static_cast<uint16_t>((high << 8) | Byte());
    }

    std::span<const uint8_t> Take(size_t count) {
        const std::span<const uint8_t> taken = Rest.first(std::min(count, Rest.size()));
        Rest = Rest.subspan(taken.size());
        return taken;
    }

    std::span<const uint8_t> Remaining() const { return Rest; }

private:
    std::span<const uint8_t> Rest;
};

// The scripted line's answer: each chunk is a length byte and that many bytes (fewer for the
// last one when the input ends). A chunk of length 0 makes that read fail as a time-out does.
inline void QueueChunks(std::span<const uint8_t> bytes, TFakeSerialIo& io) {
    TFuzzInput input(bytes.data(), bytes.size());
    while (!input.Remaining().empty()) {
        const std::span<const uint8_t> chunk = input.Take(input.Byte());
        io.QueueChunk(std::vector<uint8_t>(chunk.begin(), chunk.end()));
    }
}
