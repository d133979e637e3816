// The receiver, the answer check and the decoders: a request PDU and the bytes the line gives
// back, both chosen by the fuzzer.
//
// Input: one byte of options (bit 0 echo, bit 1 DTR, bit 2 RTS, bit 3 inverted direction, bit 4
// no answer awaited, bit 5 the first chunk comes while the request is on the line), the slave
// address, the PDU length, the PDU, then the line's answer as chunks (see QueueChunks).

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "AnswerDecoder.h"
#include "Crc16.h"
#include "ErrorText.h"
#include "FakeSerialIo.h"
#include "FuzzInput.h"
#include "ModbusProtocol.h"
#include "Ravo32.h"

namespace {

constexpr int32_t kTimeoutMs = 300;

// A copy in a heap block of exactly its size, so that AddressSanitizer sees any read past it.
struct TExactCopy {
    explicit TExactCopy(const uint8_t* bytes, size_t size)
        : Bytes(std::make_unique<uint8_t[]>(size)), Size(size) {
        if (size > 0) {
            std::memcpy(Bytes.get(), bytes, size);
        }
    }
    std::span<const uint8_t> View() const { return {Bytes.get(), Size}; }

    std::unique_ptr<uint8_t[]> Bytes;
    size_t Size;
};

bool IsWord(const Json::Value& value) {
    return (value.type() == Json::intValue || value.type() == Json::uintValue) &&
           value.asLargestInt() >= 0 && value.asLargestInt() <= 0xFFFF;
}

bool IsByte(const Json::Value& value) {
    return IsWord(value) && value.asLargestInt() <= 0xFF;
}

// A register number as the decoder writes it: decimal, no sign, no leading zeros.
bool IsRegisterName(const std::string& name) {
    if (name.empty() || name.size() > 5 || (name.size() > 1 && name[0] == '0')) {
        return false;
    }
    unsigned value = 0;
    for (const char c : name) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 0xFFFF;
}

// The member if present; unlike operator[], the lookup adds nothing.
const Json::Value* Member(const Json::Value& object, std::string_view name) {
    return object.find(name.data(), name.data() + name.size());
}

void CheckDecoded(std::span<const uint8_t> request, std::span<const uint8_t> answer,
                  const Json::Value& reply) {
    FUZZ_CHECK(reply.isObject());
    for (auto member = reply.begin(); member != reply.end(); ++member) {
        FUZZ_CHECK(member.name() == "data" || member.name() == "events_log");
        FUZZ_CHECK(member->isObject());
    }
    const Json::Value* data = Member(reply, "data");
    const Json::Value* events = Member(reply, "events_log");
    if (data != nullptr) {
        for (auto value = data->begin(); value != data->end(); ++value) {
            FUZZ_CHECK(IsRegisterName(value.name()));
            FUZZ_CHECK(IsWord(*value));
        }
        // Every register is a whole word of the answer's data, between its byte count and its CRC.
        FUZZ_CHECK(data->empty() || 2 * data->size() + kCountedFrameOverhead <= answer.size());
    }
    if (events != nullptr) {
        FUZZ_CHECK(answer[1] == FunctionCode::ReadFileRecord);
        for (auto record = events->begin(); record != events->end(); ++record) {
            FUZZ_CHECK(IsRegisterName(record.name()));
            FUZZ_CHECK(record->isArray() && record->size() == kEventRecordBytes);
            for (const Json::Value& byte : *record) {
                FUZZ_CHECK(IsByte(byte));
            }
        }
    }

    const uint8_t function = answer[1];
    if (function == FunctionCode::ReadHoldingRegisters ||
        function == FunctionCode::ReadInputRegisters) {
        FUZZ_CHECK(events == nullptr);
        const size_t count = request.size() >= 6 ? size_t{request[4]} << 8 | request[5] : 0;
        FUZZ_CHECK(data == nullptr || data->size() <= count);
    } else if (function == FunctionCode::ReadSectionDevice) {
        FUZZ_CHECK(events == nullptr);
        FUZZ_CHECK(data == nullptr || data->size() <= kDeviceSectionRegisters);
    } else if (function != FunctionCode::ReadFileRecord) {
        FUZZ_CHECK(data == nullptr && events == nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    TFuzzInput input(bytes, size);
    const uint8_t options = input.Byte();
    const uint8_t slave = input.Byte();
    const std::span<const uint8_t> pdu = input.Take(input.Byte());

    auto io = std::make_unique<TFakeSerialIo>();
    TFakeSerialIo* const line = io.get();
    QueueChunks(input.Remaining(), *line);
    if ((options & 32U) != 0 && !line->Chunks.empty()) {
        line->ArriveDuringWrite(std::move(line->Chunks.front()));
        line->Chunks.pop_front();
    }
    TRavo32 link(std::move(io));
    link.MapPort(1, "/fake");
    link.SetEcho((options & 1U) != 0 ? 1 : 0);
    link.SetControl((options & 2U) != 0 ? 1 : 0, (options & 4U) != 0 ? 1 : 0,
                    (options & 8U) != 0 ? 1 : 0);
    FUZZ_CHECK(link.Connect(1, slave, 19200));

    link.Frame.FrameBegin();
    for (const uint8_t byte : pdu) {
        link.Frame.FrameAdd(byte);
    }
    link.Frame.FrameAddCrc();
    FUZZ_CHECK(link.Frame.FrameBuf == link.TxBuf);
    FUZZ_CHECK(link.Frame.FrameLen >= 1 && link.Frame.FrameLen <= TRavo32::kTxSize);

    const int32_t timeout = (options & 16U) != 0 ? 0 : kTimeoutMs;
    const bool received = link.Transact(timeout);
    FUZZ_CHECK(received || link.GetError() != ErrorCode::None);

    const uint8_t* answer = nullptr;
    int32_t length = -1;
    const uint8_t code = link.CheckAnswer(answer, length);
    FUZZ_CHECK(answer == link.RxBuf);
    FUZZ_CHECK(length == 0 || (length >= 4 && length <= TRavo32::kRxSize));
    if (!received) {
        FUZZ_CHECK(code != ErrorCode::None);
    }
    // For looking at what a seed does: MODBUS_BRIDGE_FUZZ_PRINT=1 fuzz-answer SEED...
    static const bool print = std::getenv("MODBUS_BRIDGE_FUZZ_PRINT") != nullptr;
    if (print) {
        std::fprintf(stderr, "code %d, answer %s\n", int{code},
                     TComp32::ToHex(answer, length).c_str());
    }
    if (code != ErrorCode::None || length == 0) {
        return 0;
    }

    // The receiver takes only frames from the slave asked, for the function asked or its
    // exception, with a good CRC.
    const uint8_t function = answer[1];
    FUZZ_CHECK(answer[0] == slave);
    FUZZ_CHECK(function == link.TxBuf[1] || function == (link.TxBuf[1] | kExceptionBit));
    FUZZ_CHECK(CheckCrc(answer, static_cast<int16_t>(length)));

    const TExactCopy request(link.Frame.FrameBuf, static_cast<size_t>(link.Frame.FrameLen));
    const TExactCopy reply(answer, static_cast<size_t>(length));
    Json::Value decoded(Json::objectValue);
    DecodeAnswer(request.View(), reply.View(), decoded);
    CheckDecoded(request.View(), reply.View(), decoded);
    if (print) {
        std::fprintf(stderr, "%s\n", decoded.toStyledString().c_str());
    }
    static_cast<void>(DeviceTypeCode(reply.View()));
    FUZZ_CHECK(line->IsOpen());
    return 0;
}
