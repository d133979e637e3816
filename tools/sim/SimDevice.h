#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

using TPdu = std::vector<uint8_t>;

struct TDeviceSetup {
    uint8_t Address = 1;
    uint16_t DeviceType = 0x0003;
    // When set, every request addressed to the device is refused with this exception code and
    // changes nothing.
    std::optional<uint8_t> ForcedException = std::nullopt;
};

// The register model of the simulated slave and its answers to request frames. Time comes in as
// milliseconds since start, so that the live input registers can be checked at fixed instants.
class TSimDevice {
public:
    static constexpr uint32_t kHoldingCount = 0x9000;
    static constexpr uint32_t kInputCount = 0x0100;
    static constexpr uint32_t kEventRecords = 32;
    static constexpr uint32_t kEventRecordBytes = 32;

    explicit TSimDevice(const TDeviceSetup& setup);

    // The answer PDU to a CRC-checked request frame (address, PDU, CRC), or none when the request
    // is for another slave or a broadcast, which is carried out without an answer.
    std::optional<TPdu> Answer(std::span<const uint8_t> frame, uint64_t nowMs);

    // A look at the register bank without going through a request.
    uint16_t HoldingRegister(uint16_t address) const {
        return address < kHoldingCount ? holding_[address] : 0;
    }

private:
    TPdu Serve(std::span<const uint8_t> pdu, uint64_t nowMs);
    TPdu ReadRegisters(std::span<const uint8_t> pdu, uint64_t nowMs);
    TPdu WriteSingle(std::span<const uint8_t> pdu);
    TPdu WriteMultiple(std::span<const uint8_t> pdu);
    TPdu ReadFileRecords(std::span<const uint8_t> pdu);
    TPdu ReadDeviceSection();
    TPdu Acknowledge(std::span<const uint8_t> pdu);
    uint16_t InputRegister(uint32_t address, uint64_t nowMs) const;

    TDeviceSetup setup_;
    std::vector<uint16_t> holding_;
};
