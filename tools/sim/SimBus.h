#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "SimDevice.h"

// One slave on the simulated line: its address and the only speed it reads requests at, or any
// speed when none is set.
struct TSlaveSetup {
    uint8_t Address = 1;
    std::optional<uint32_t> Baud = std::nullopt;

    friend bool operator==(const TSlaveSetup&, const TSlaveSetup&) = default;
};

// What the line gives back to one request: the slave that answers, when one does, and its answer.
struct TBusAnswer {
    std::optional<size_t> Slave;
    std::optional<TPdu> Answer;
};

// Several slaves on one line, each with its own registers. A slave set to another speed than
// the line's hears only garbled bytes, so it neither answers nor carries a request out.
class TSimBus {
public:
    TSimBus(const TDeviceSetup& common, std::span<const TSlaveSetup> slaves);

    // The answer to a CRC-checked request frame heard while the line runs at lineBaud.
    TBusAnswer Hear(std::span<const uint8_t> frame, uint32_t lineBaud, uint64_t nowMs);

    size_t Size() const { return devices_.size(); }
    const TSimDevice& Device(size_t slave) const { return devices_[slave]; }

private:
    std::vector<TSlaveSetup> slaves_;
    std::vector<TSimDevice> devices_;
};
