#include "FrameFinder.h"

#include <algorithm>

#include "Crc16.h"
#include "ModbusProtocol.h"

namespace {

// Removes entries [first, first + count) of each array holding size entries.
template <typename... TArrays>
void EraseEntries(int first, int count, int size, TArrays&... arrays) {
    (std::copy(arrays.begin() + first + count, arrays.begin() + size, arrays.begin() + first), ...);
}

}  // namespace

void TFrameFinder::Reset(uint8_t slave, uint8_t function) {
    slave_ = slave;
    function_ = function;
    scanned_ = 0;
    count_ = 0;
    exceptionCount_ = 0;
    settledCount_ = 0;
}

void TFrameFinder::Scan(const uint8_t* data, int count) {
    count = std::min(count, kCapacity);
    for (int position = scanned_; position < count; ++position) {
        TakeByte(data, position);
    }
    scanned_ = std::max(scanned_, count);
}

void TFrameFinder::TakeByte(const uint8_t* data, int position) {
    const uint8_t byte = data[position];
    // The hot loop: one table step per open candidate.
    for (int i = 0; i < count_; ++i) {
        const uint16_t crc = Crc16Step(crcs_[static_cast<size_t>(i)], byte);
        crcs_[static_cast<size_t>(i)] = crc;
        if (crc == 0) [[unlikely]] {
            const int length = position + 1 - starts_[static_cast<size_t>(i)];
            if (length >= kMinFrameBytes) {
                validLengths_[static_cast<size_t>(i)] = static_cast<uint16_t>(length);
            }
        }
    }
    TakeExceptionByte(byte);

    if (position == 0 || data[position - 1] != slave_) {
        return;
    }
    const uint16_t crc = Crc16Step(Crc16Step(kCrc16Initial, slave_), byte);
    const auto start = static_cast<uint16_t>(position - 1);
    if (byte == function_) {
        const auto slot = static_cast<size_t>(count_++);
        starts_[slot] = start;
        crcs_[slot] = crc;
        validLengths_[slot] = 0;
    } else if (function_ < kExceptionBit && byte == (function_ | kExceptionBit)) {
        const auto slot = static_cast<size_t>(exceptionCount_++);
        exceptionStarts_[slot] = start;
        exceptionCrcs_[slot] = crc;
        exceptionLengths_[slot] = 2;
    }
}

void TFrameFinder::TakeExceptionByte(uint8_t byte) {
    for (int i = settledCount_; i < exceptionCount_; ++i) {
        const auto slot = static_cast<size_t>(i);
        exceptionCrcs_[slot] = Crc16Step(exceptionCrcs_[slot], byte);
        ++exceptionLengths_[slot];
    }
    // The oldest open candidate is the first to reach five bytes.
    if (settledCount_ < exceptionCount_ &&
        exceptionLengths_[static_cast<size_t>(settledCount_)] == kExceptionFrameBytes) {
        if (exceptionCrcs_[static_cast<size_t>(settledCount_)] == 0) {
            ++settledCount_;
        } else {
            EraseEntries(settledCount_, 1, exceptionCount_, exceptionStarts_, exceptionCrcs_,
                         exceptionLengths_);
            --exceptionCount_;
        }
    }
}

void TFrameFinder::Discard(int count) {
    count = std::clamp(count, 0, scanned_);
    const auto before = [count](const auto& starts, int size) {
        return static_cast<int>(std::lower_bound(starts.begin(), starts.begin() + size, count) -
                                starts.begin());
    };
    const int dropped = before(starts_, count_);
    EraseEntries(0, dropped, count_, starts_, crcs_, validLengths_);
    count_ -= dropped;
    for (int i = 0; i < count_; ++i) {
        starts_[static_cast<size_t>(i)] =
            static_cast<uint16_t>(starts_[static_cast<size_t>(i)] - count);
    }

    const int droppedExceptions = before(exceptionStarts_, exceptionCount_);
    EraseEntries(0, droppedExceptions, exceptionCount_, exceptionStarts_, exceptionCrcs_,
                 exceptionLengths_);
    exceptionCount_ -= droppedExceptions;
    settledCount_ = std::max(0, settledCount_ - droppedExceptions);
    for (int i = 0; i < exceptionCount_; ++i) {
        exceptionStarts_[static_cast<size_t>(i)] =
            static_cast<uint16_t>(exceptionStarts_[static_cast<size_t>(i)] - count);
    }
    scanned_ -= count;
}

std::optional<TFrameSpan> TFrameFinder::Frame() const {
    std::optional<TFrameSpan> first;
    for (int i = 0; i < count_; ++i) {
        if (validLengths_[static_cast<size_t>(i)] != 0) {
            first =
                TFrameSpan{starts_[static_cast<size_t>(i)], validLengths_[static_cast<size_t>(i)]};
            break;
        }
    }
    if (settledCount_ > 0 && (!first || exceptionStarts_[0] < first->Start)) {
        first = TFrameSpan{exceptionStarts_[0], kExceptionFrameBytes};
    }
    return first;
}

std::optional<TFrameSpan> FindFrame(const uint8_t* data, int count, uint8_t slave,
                                    uint8_t function) {
    TFrameFinder finder;
    finder.Reset(slave, function);
    finder.Scan(data, count);
    return finder.Frame();
}
