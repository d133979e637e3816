#include "FrameFinder.h"

#include <algorithm>

#include "Crc16.h"

namespace {

constexpr int kMinFrameLength = 4;
constexpr int kExceptionFrameLength = 5;
constexpr uint8_t kExceptionBit = 0x80;

}  // namespace

void TFrameFinder::Reset(uint8_t slave, uint8_t function) {
    slave_ = slave;
    function_ = function;
    scanned_ = 0;
    count_ = 0;
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
    int kept = 0;
    for (int i = 0; i < count_; ++i) {
        Candidate& candidate = candidates_[static_cast<size_t>(i)];
        if (candidate.Exception) {
            // An exception frame has exactly five bytes: once it has them it is settled.
            if (candidate.Length < kExceptionFrameLength) {
                candidate.Crc = Crc16Step(candidate.Crc, byte);
                ++candidate.Length;
                if (candidate.Length == kExceptionFrameLength) {
                    if (candidate.Crc != 0) {
                        continue;
                    }
                    candidate.ValidLength = kExceptionFrameLength;
                }
            }
        } else {
            candidate.Crc = Crc16Step(candidate.Crc, byte);
            ++candidate.Length;
            if (candidate.Crc == 0 && candidate.Length >= kMinFrameLength) {
                candidate.ValidLength = candidate.Length;
            }
        }
        candidates_[static_cast<size_t>(kept++)] = candidate;
    }
    count_ = kept;

    if (position == 0 || data[position - 1] != slave_) {
        return;
    }
    const bool normal = byte == function_;
    const bool exception =
        !normal && function_ < kExceptionBit && byte == (function_ | kExceptionBit);
    if (!normal && !exception) {
        return;
    }
    const uint16_t crc = Crc16Step(Crc16Step(kCrc16Initial, slave_), byte);
    candidates_[static_cast<size_t>(count_++)] = {static_cast<uint16_t>(position - 1), crc, 2, 0,
                                                  exception};
}

void TFrameFinder::Discard(int count) {
    count = std::clamp(count, 0, scanned_);
    int kept = 0;
    for (int i = 0; i < count_; ++i) {
        Candidate candidate = candidates_[static_cast<size_t>(i)];
        if (candidate.Start >= count) {
            candidate.Start = static_cast<uint16_t>(candidate.Start - count);
            candidates_[static_cast<size_t>(kept++)] = candidate;
        }
    }
    count_ = kept;
    scanned_ -= count;
}

std::optional<TFrameSpan> TFrameFinder::Frame() const {
    for (int i = 0; i < count_; ++i) {
        const Candidate& candidate = candidates_[static_cast<size_t>(i)];
        if (candidate.ValidLength != 0) {
            return TFrameSpan{candidate.Start, candidate.ValidLength};
        }
    }
    return std::nullopt;
}

std::optional<TFrameSpan> FindFrame(const uint8_t* data, int count, uint8_t slave,
                                    uint8_t function) {
    TFrameFinder finder;
    finder.Reset(slave, function);
    finder.Scan(data, count);
    return finder.Frame();
}
