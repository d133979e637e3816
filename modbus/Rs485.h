#pragma once

#include <cstdint>
#include <memory>

#include "Comp32.h"

// RS-485 line control on top of the serial port: DTR and/or RTS as the direction signal of the
// adapter, optionally inverted, and the adapter's echo of the request.
class TRs485 : public TComp32 {
public:
    TRs485() = default;
    explicit TRs485(std::unique_ptr<TSerialIo> io) : TComp32(std::move(io)) {}

    void SetEcho(uint8_t echo) { Echo = echo; }
    uint8_t GetEcho() const { return Echo; }
    void SetControl(uint8_t dtr, uint8_t rts, uint8_t invert);

    // Each runs every step even after a failed one and reports whether all succeeded. TxMode
    // turns the line to transmit and drops both queues; RxMode only turns it back to receive.
    bool TxMode();
    bool RxMode();

protected:
    uint8_t Echo = 0;
    uint8_t Dtr = 0;
    uint8_t Rts = 0;
    uint8_t Invert = 0;

private:
    bool SetDirection(uint8_t level);
};
