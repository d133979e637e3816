#include "SimBus.h"

namespace {

constexpr uint8_t kBroadcast = 0;

}  // namespace

TSimBus::TSimBus(const TDeviceSetup& common, std::span<const TSlaveSetup> slaves)
    : slaves_(slaves.begin(), slaves.end()) {
    devices_.reserve(slaves_.size());
    for (const TSlaveSetup& slave : slaves_) {
        TDeviceSetup setup = common;
        setup.Address = slave.Address;
        devices_.emplace_back(setup);
    }
}

TBusAnswer TSimBus::Hear(std::span<const uint8_t> frame, uint32_t lineBaud, uint64_t nowMs) {
    if (frame.empty()) {
        return {};
    }
    const uint8_t address = frame[0];
    for (size_t i = 0; i < slaves_.size(); ++i) {
        if (slaves_[i].Baud && *slaves_[i].Baud != lineBaud) {
            continue;
        }
        // Every slave at the line's speed carries a broadcast out; none answers it.
        if (address == kBroadcast) {
            devices_[i].Answer(frame, nowMs);
        } else if (address == slaves_[i].Address) {
            return {i, devices_[i].Answer(frame, nowMs)};
        }
    }
    return {};
}
