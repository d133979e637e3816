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
// CRC step per candidate instead of a rescan of everything received. A CRC-valid frame leaves a
// zero CRC residue.
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
    struct Candidate {
        uint16_t Start;
        uint16_t Crc;
        uint16_t Length;
        uint16_t ValidLength;  // longest CRC-valid length seen so far, 0 for none
        bool Exception;
    };

    void TakeByte(const uint8_t* data, int position);

    uint8_t slave_ = 0;
    uint8_t function_ = 0;
    int scanned_ = 0;
    int count_ = 0;
    std::array<Candidate, kCapacity> candidates_{};
};

// The frame in data[0..count), or none.
std::optional<TFrameSpan> FindFrame(const uint8_t* data, int count, uint8_t slave,
                                    uint8_t function);
