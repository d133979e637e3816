#include "SimDevice.h"

#include <array>
#include <cmath>
#include <numbers>

#include "ModbusProtocol.h"

namespace {

constexpr uint8_t kBroadcast = 0;

constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalAddress = 2;
constexpr uint8_t kIllegalValue = 3;

constexpr size_t kMaxAnswerPdu = 253;
constexpr uint32_t kMaxReadCount = 125;
constexpr uint32_t kMaxWriteCount = 123;

constexpr uint8_t kFileReference = 6;
constexpr uint8_t kMinFileRequestBytes = kFileSubRequestBytes;
constexpr uint8_t kMaxFileRequestBytes = 0xF5;

constexpr uint16_t kSectionFormat = 1;
constexpr uint16_t kFirmwareVersion = 0x0100;
constexpr uint16_t kSerialHigh = 0x2026;
constexpr uint16_t kSerialLow = 0x0001;

constexpr uint64_t kCounterTickMs = 100;
constexpr double kWavePeriodMs = 60000.0;
constexpr long kWaveMiddle = 1000;
constexpr double kWaveAmplitude = 1000.0;
constexpr uint16_t kPlainInputBase = 0x1000;

uint16_t Get16(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void Put16(TPdu& pdu, uint32_t value) {
    pdu.push_back(static_cast<uint8_t>(value >> 8));
    pdu.push_back(static_cast<uint8_t>(value));
}

TPdu Refuse(uint8_t function, uint8_t code) {
    return {static_cast<uint8_t>(function | kExceptionBit), code};
}

uint8_t EventRecordByte(uint32_t record, uint32_t index) {
    const uint32_t stampSeconds = 1000 * record;
    switch (index) {
        case 0:
            return static_cast<uint8_t>(record);
        case 1:
            return static_cast<uint8_t>(1 + record % 7);
        case 2:
        case 3:
        case 4:
        case 5:
            return static_cast<uint8_t>(stampSeconds >> (8 * (5 - index)));
        default:
            return index < TSimDevice::kEventRecordBytes ? static_cast<uint8_t>(record + index) : 0;
    }
}

}  // namespace

TSimDevice::TSimDevice(const TDeviceSetup& setup) : setup_(setup), holding_(kHoldingCount) {
    for (uint32_t address = 0; address < kHoldingCount; ++address) {
        holding_[address] = static_cast<uint16_t>(address);
    }
}

std::optional<TPdu> TSimDevice::Answer(std::span<const uint8_t> frame, uint64_t nowMs) {
    if (frame.size() < 4) {
        return std::nullopt;
    }
    const uint8_t address = frame[0];
    if (address != setup_.Address && address != kBroadcast) {
        return std::nullopt;
    }
    const std::span<const uint8_t> pdu = frame.subspan(1, frame.size() - 3);
    const uint8_t function = pdu[0];
    if (setup_.ForcedException) {
        if (address == kBroadcast) {
            return std::nullopt;
        }
        return Refuse(function, *setup_.ForcedException);
    }
    if (address == kBroadcast) {
        // Only writes make sense to everyone at once; nobody answers a broadcast.
        if (function == FunctionCode::WriteSingleRegister ||
            function == FunctionCode::WriteMultipleRegisters) {
            Serve(pdu, nowMs);
        }
        return std::nullopt;
    }
    return Serve(pdu, nowMs);
}

TPdu TSimDevice::Serve(std::span<const uint8_t> pdu, uint64_t nowMs) {
    switch (pdu[0]) {
        case FunctionCode::ReadHoldingRegisters:
        case FunctionCode::ReadInputRegisters:
            return ReadRegisters(pdu, nowMs);
        case FunctionCode::WriteSingleRegister:
            return WriteSingle(pdu);
        case FunctionCode::WriteMultipleRegisters:
            return WriteMultiple(pdu);
        case FunctionCode::ReadFileRecord:
            return ReadFileRecords(pdu);
        case FunctionCode::ReadSectionDevice:
            return ReadDeviceSection();
        case FunctionCode::OwnBind:
        case FunctionCode::BootLoader:
            return Acknowledge(pdu);
        default:
            return Refuse(pdu[0], kIllegalFunction);
    }
}

TPdu TSimDevice::ReadRegisters(std::span<const uint8_t> pdu, uint64_t nowMs) {
    const uint8_t function = pdu[0];
    if (pdu.size() != 5) {
        return Refuse(function, kIllegalValue);
    }
    const uint32_t start = Get16(pdu, 1);
    const uint32_t count = Get16(pdu, 3);
    if (count < 1 || count > kMaxReadCount) {
        return Refuse(function, kIllegalValue);
    }
    const bool holding = function == FunctionCode::ReadHoldingRegisters;
    if (start + count > (holding ? kHoldingCount : kInputCount)) {
        return Refuse(function, kIllegalAddress);
    }
    TPdu answer{function, static_cast<uint8_t>(2 * count)};
    for (uint32_t address = start; address < start + count; ++address) {
        Put16(answer, holding ? holding_[address] : InputRegister(address, nowMs));
    }
    return answer;
}

TPdu TSimDevice::WriteSingle(std::span<const uint8_t> pdu) {
    if (pdu.size() != 5) {
        return Refuse(pdu[0], kIllegalValue);
    }
    const uint32_t address = Get16(pdu, 1);
    if (address >= kHoldingCount) {
        return Refuse(pdu[0], kIllegalAddress);
    }
    holding_[address] = Get16(pdu, 3);
    return TPdu(pdu.begin(), pdu.end());
}

TPdu TSimDevice::WriteMultiple(std::span<const uint8_t> pdu) {
    if (pdu.size() < 6) {
        return Refuse(pdu[0], kIllegalValue);
    }
    const uint32_t start = Get16(pdu, 1);
    const uint32_t count = Get16(pdu, 3);
    const size_t byteCount = pdu[5];
    if (count < 1 || count > kMaxWriteCount || byteCount != 2 * count ||
        pdu.size() != 6 + byteCount) {
        return Refuse(pdu[0], kIllegalValue);
    }
    if (start + count > kHoldingCount) {
        return Refuse(pdu[0], kIllegalAddress);
    }
    for (uint32_t i = 0; i < count; ++i) {
        holding_[start + i] = Get16(pdu, 6 + 2 * i);
    }
    return TPdu(pdu.begin(), pdu.begin() + 5);
}

TPdu TSimDevice::ReadFileRecords(std::span<const uint8_t> pdu) {
    if (pdu.size() < 2) {
        return Refuse(FunctionCode::ReadFileRecord, kIllegalValue);
    }
    const uint8_t byteCount = pdu[1];
    if (byteCount < kMinFileRequestBytes || byteCount > kMaxFileRequestBytes ||
        byteCount % kFileSubRequestBytes != 0 || pdu.size() != 2u + byteCount) {
        return Refuse(FunctionCode::ReadFileRecord, kIllegalValue);
    }
    TPdu answer{FunctionCode::ReadFileRecord, 0};
    for (size_t at = 2; at < pdu.size(); at += kFileSubRequestBytes) {
        const uint16_t file = Get16(pdu, at + 1);
        const uint32_t record = Get16(pdu, at + 3);
        const uint32_t length = Get16(pdu, at + 5);
        if (pdu[at] != kFileReference) {
            return Refuse(FunctionCode::ReadFileRecord, kIllegalAddress);
        }
        const std::optional<uint32_t> base = RegisterFileBase(file);
        if (base) {
            if (*base + record >= kHoldingCount || *base + record + length > kHoldingCount) {
                return Refuse(FunctionCode::ReadFileRecord, kIllegalAddress);
            }
        } else if (file != kEventFile || record >= kEventRecords) {
            return Refuse(FunctionCode::ReadFileRecord, kIllegalAddress);
        }
        // Checked before building the data, as a long record length would make it large.
        if (answer.size() + 2 + 2 * length > kMaxAnswerPdu) {
            return Refuse(FunctionCode::ReadFileRecord, kIllegalValue);
        }
        answer.push_back(static_cast<uint8_t>(1 + 2 * length));
        answer.push_back(kFileReference);
        for (uint32_t i = 0; i < length; ++i) {
            if (base) {
                Put16(answer, holding_[*base + record + i]);
            } else {
                answer.push_back(EventRecordByte(record, 2 * i));
                answer.push_back(EventRecordByte(record, 2 * i + 1));
            }
        }
    }
    answer[1] = static_cast<uint8_t>(answer.size() - 2);
    return answer;
}

TPdu TSimDevice::ReadDeviceSection() {
    std::array<uint16_t, kDeviceSectionRegisters> section{};
    section[0] = kSectionFormat;
    section[1] = setup_.DeviceType;
    section[2] = kFirmwareVersion;
    section[3] = setup_.Address;
    section[4] = kSerialHigh;
    section[5] = kSerialLow;
    TPdu answer{FunctionCode::ReadSectionDevice, static_cast<uint8_t>(2 * kDeviceSectionRegisters)};
    for (const uint16_t value : section) {
        Put16(answer, value);
    }
    return answer;
}

TPdu TSimDevice::Acknowledge(std::span<const uint8_t> pdu) {
    // The status byte keeps the answer different from the request, so an echo is not mistaken
    // for it.
    if (pdu.size() + 1 > kMaxAnswerPdu) {
        return Refuse(pdu[0], kIllegalValue);
    }
    TPdu answer{pdu[0], 0x00};
    answer.insert(answer.end(), pdu.begin() + 1, pdu.end());
    return answer;
}

uint16_t TSimDevice::InputRegister(uint32_t address, uint64_t nowMs) const {
    switch (address) {
        case 0:
            return static_cast<uint16_t>(nowMs / kCounterTickMs);
        case 1: {
            const double phase =
                2.0 * std::numbers::pi * static_cast<double>(nowMs) / kWavePeriodMs;
            return static_cast<uint16_t>(kWaveMiddle +
                                         std::lround(kWaveAmplitude * std::sin(phase)));
        }
        case 2:
            return static_cast<uint16_t>(nowMs / 1000);
        default:
            return static_cast<uint16_t>(kPlainInputBase + address);
    }
}
