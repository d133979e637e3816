#include "RequestFramer.h"

#include "Crc16.h"
#include "ModbusProtocol.h"

namespace {

// What the first bytes of a candidate tell about its length.
constexpr int kLengthPending = -1;  // the byte that tells it has not arrived yet
constexpr int kLengthOpen = 0;      // the code fixes no length: the CRC decides

int ExpectedLength(const uint8_t* frame, size_t held) {
    if (held < 2) {
        return kLengthPending;
    }
    switch (frame[1]) {
        case FunctionCode::ReadCoils:
        case FunctionCode::ReadDiscreteInputs:
        case FunctionCode::ReadHoldingRegisters:
        case FunctionCode::ReadInputRegisters:
        case FunctionCode::WriteSingleCoil:
        case FunctionCode::WriteSingleRegister:
            return kFixedRequestBytes;
        case FunctionCode::WriteMultipleCoils:
        case FunctionCode::WriteMultipleRegisters:
            // Address, function, start, quantity, byte count, the data, the CRC.
            return held > 6 ? 9 + frame[6] : kLengthPending;
        case FunctionCode::ReadFileRecord:
        case FunctionCode::WriteFileRecord:
            return held > 2 ? kCountedFrameOverhead + frame[2] : kLengthPending;
        case FunctionCode::MaskWriteRegister:
            // Address, function, reference, AND mask, OR mask, the CRC.
            return 10;
        default:
            return kLengthOpen;
    }
}

bool IsFixedFrame(const uint8_t* frame, size_t length) {
    const int expected = ExpectedLength(frame, length);
    return expected > 0 && static_cast<size_t>(expected) == length &&
           CheckCrc(frame, static_cast<int16_t>(length));
}

}  // namespace

std::vector<TFrame> TRequestFramer::Push(std::span<const uint8_t> bytes) {
    std::vector<TFrame> frames;
    std::deque<uint8_t> pending(bytes.begin(), bytes.end());
    while (!pending.empty()) {
        const uint8_t byte = pending.front();
        pending.pop_front();
        heldCrc_ = Crc16Step(held_.empty() ? kCrc16Initial : heldCrc_, byte);
        held_.push_back(byte);
        Settle(pending, frames);
    }
    return frames;
}

void TRequestFramer::Expire() {
    held_.clear();
}

void TRequestFramer::Settle(std::deque<uint8_t>& pending, std::vector<TFrame>& frames) {
    const size_t held = held_.size();
    const int expected = ExpectedLength(held_.data(), held);
    if (expected == kLengthPending) {
        return;
    }
    if (expected > 0) {
        const size_t length = static_cast<size_t>(expected);
        if (length > kMaxFrame) {
            DropFirstByte(pending);
        } else if (held == length) {
            if (heldCrc_ == 0) {
                Emit(0, frames);
            } else {
                DropFirstByte(pending);
            }
        }
        return;
    }
    if (held >= kMinFrameBytes && heldCrc_ == 0) {
        Emit(0, frames);
        return;
    }
    // A first byte with an open-length code may be noise that would hold the line until it goes
    // quiet; a fixed-length frame that has just ended further in shows where the real one began.
    // Open-length codes further in are not trusted: some span of a long frame is bound to pass.
    for (size_t start = 1; start + kMinFrameBytes <= held; ++start) {
        if (IsFixedFrame(held_.data() + start, held - start)) {
            Emit(start, frames);
            return;
        }
    }
    if (held >= kMaxFrame) {
        DropFirstByte(pending);
    }
}

void TRequestFramer::Emit(size_t start, std::vector<TFrame>& frames) {
    frames.emplace_back(held_.begin() + static_cast<std::ptrdiff_t>(start), held_.end());
    held_.clear();
}

void TRequestFramer::DropFirstByte(std::deque<uint8_t>& pending) {
    pending.insert(pending.begin(), held_.begin() + 1, held_.end());
    held_.clear();
}
