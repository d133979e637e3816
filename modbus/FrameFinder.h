#pragma once

#include <array>
#include <cstdint>
#include <optional>

struct TFrameSpan {
    int Start;
    int Length;
};

// Finds an answer frame in received bytes: the first start position that holds a CRC-valid frame
// from the slave with the function code (the longest such frame there), or the five-byte exception
// form of that function code.
//
// It keeps a running CRC for every candidate start across calls, so each received byte costs one
// table step per candidate instead of a rescan of everything received.
class TFrameFinder {
public:
    static constexpr int kCapacity = 1024;

    void Reset(uint8_t slave, uint8_t function);

    // Takes in data[Scanned()..count). The bytes before Scanned() must be those of earlier calls,
    // moved down only by Discard.
    void Scan(const uint8_t* data, int count);

    // Forgets the first count scanned bytes, as a receive buffer that moves its rest down.
    void Discard(int count);

    std::optional<TFrameSpan> Frame() const;
    int Scanned() const { return scanned_; }

private:
    void TakeByte(const uint8_t* data, int position);
    void TakeExceptionByte(uint8_t byte);

    uint8_t slave_ = 0;
    uint8_t function_ = 0;
    int scanned_ = 0;

    // Candidates of the normal form, in order of their start. They never settle: a longer valid
    // length may still come.
    int count_ = 0;
    std::array<uint16_t, kCapacity> starts_{};
    std::array<uint16_t, kCapacity> crcs_{};
    std::array<uint16_t, kCapacity> validLengths_{};

    // Candidates of the five-byte exception form, in order of their start. Each settles three
    // bytes after it was found, so the valid settled ones come first and at most three are open.
    int exceptionCount_ = 0;
    int settledCount_ = 0;
    std::array<uint16_t, kCapacity> exceptionStarts_{};
    std::array<uint16_t, kCapacity> exceptionCrcs_{};
    std::array<uint8_t, kCapacity> exceptionLengths_{};
};

// The frame in data[0..count), or none.
std::optional<TFrameSpan> FindFrame(const uint8_t* data, int count, uint8_t slave,
                                    uint8_t function);
