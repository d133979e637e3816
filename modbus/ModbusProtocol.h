#pragma once

#include <cstdint>
#include <optional>

// The function codes that the link, the bridge and the simulated device speak, and the frame
// sizes that follow from them, named once for all of them.
namespace FunctionCode {
inline constexpr uint8_t ReadCoils = 1;
inline constexpr uint8_t ReadDiscreteInputs = 2;
inline constexpr uint8_t ReadHoldingRegisters = 3;
inline constexpr uint8_t ReadInputRegisters = 4;
inline constexpr uint8_t WriteSingleCoil = 5;
inline constexpr uint8_t WriteSingleRegister = 6;
inline constexpr uint8_t ReadExceptionStatus = 7;
inline constexpr uint8_t WriteMultipleCoils = 15;
inline constexpr uint8_t WriteMultipleRegisters = 16;
inline constexpr uint8_t ReadFileRecord = 20;
inline constexpr uint8_t WriteFileRecord = 21;
inline constexpr uint8_t MaskWriteRegister = 22;
inline constexpr uint8_t ReadConfiguration = 67;
inline constexpr uint8_t WriteConfiguration = 68;
inline constexpr uint8_t ReadSectionDevice = 69;
inline constexpr uint8_t OwnBind = 70;
inline constexpr uint8_t BootLoader = 71;
}  // namespace FunctionCode

// Set in the function code of an exception answer, whose third byte is the exception code.
inline constexpr uint8_t kExceptionBit = 0x80;

// Every RTU frame ends in its CRC; the shortest is a slave address, a function code and the CRC.
inline constexpr int kCrcBytes = 2;
inline constexpr int kMinFrameBytes = 2 + kCrcBytes;
// An answer that counts its data bytes: slave address, function code, byte count, the data from
// here on, then the CRC.
inline constexpr int kCountedDataAt = 3;
inline constexpr int kCountedFrameOverhead = kCountedDataAt + kCrcBytes;
// An exception answer: slave address, function code with the exception bit, exception code, CRC.
inline constexpr int kExceptionFrameBytes = kCountedFrameOverhead;
// A request of fixed length: slave address, function code, two words, the CRC.
inline constexpr int kFixedRequestBytes = 8;

// Read file record: each sub-request is the reference type, then file, record and length as
// words.
inline constexpr int kFileSubRequestBytes = 7;
// The files that hold holding registers, and the address of each file's record 0; other files
// hold none.
constexpr std::optional<uint16_t> RegisterFileBase(uint16_t file) {
    switch (file) {
        case 0:
            return 0x0000;
        case 1:
            return 0x1000;
        case 2:
            return 0x2000;
        case 4:
            return 0x4000;
        case 5:
            return 0x8000;
        default:
            return std::nullopt;
    }
}
// The file of event records, and the bytes of one record.
inline constexpr uint8_t kEventFile = 6;
inline constexpr int kEventRecordBytes = 32;

// Read section device: sixteen registers, the second of them the device type.
inline constexpr int kDeviceSectionRegisters = 16;
inline constexpr int kDeviceSectionBytes = 2 * kDeviceSectionRegisters;
inline constexpr int kDeviceSectionAnswerBytes = kCountedFrameOverhead + kDeviceSectionBytes;
