#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

using TFrame = std::vector<uint8_t>;

// Cuts request frames (address, PDU, CRC) out of the byte stream a slave receives. Codes whose
// request length Modbus fixes are cut at that length; other codes end where the bytes held turn
// CRC-valid. A fixed-length candidate with a bad CRC loses its first byte and the rest is taken
// again as if it had just arrived, which finds the next frame boundary after noise.
class TRequestFramer {
public:
    // The longest frame RTU allows.
    static constexpr size_t kMaxFrame = 256;

    // Takes received bytes and returns the frames they complete, in arrival order.
    std::vector<TFrame> Push(std::span<const uint8_t> bytes);

    // The line has gone quiet: whatever is held is a broken frame that will never complete.
    void Expire();

    size_t Held() const { return held_.size(); }

private:
    // Settles the bytes held after one more byte came in; may hand bytes back to pending.
    void Settle(std::deque<uint8_t>& pending, std::vector<TFrame>& frames);
    void Emit(size_t start, std::vector<TFrame>& frames);
    void DropFirstByte(std::deque<uint8_t>& pending);

    std::vector<uint8_t> held_;
    // CRC over everything held: zero when the held bytes form a CRC-valid block.
    uint16_t heldCrc_ = 0;
};
