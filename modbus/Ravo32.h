#pragma once

#include <cstdint>
#include <memory>

#include "FrameBuilder.h"
#include "FrameFinder.h"
#include "Rs485.h"

// The Modbus RTU master of the link: sends the request frame built in TxBuf, receives the answer
// into RxBuf within a time-out and checks it against the request. Failures are kept as an error
// code in Error.
class TRavo32 : public TRs485 {
public:
    static constexpr int kRxSize = 1024;
    static constexpr int kTxSize = 256;
    // The finder tracks a candidate start for every byte the receive buffer can hold.
    static_assert(kRxSize == TFrameFinder::kCapacity);

    TRavo32();
    explicit TRavo32(std::unique_ptr<TSerialIo> io);
    ~TRavo32();

    // Always opens the port afresh and leaves the line in receive direction.
    bool Connect(uint8_t port, uint8_t slave, int32_t baud);
    bool Disconnect();

    // Sends the request frame; unless timeoutMs is 0, receives its answer.
    bool Transact(int32_t timeoutMs);
    // Receives the answer to the request just sent, right after the line turned to receive:
    // bytes already held that repeat the request are its echo and are dropped, one copy at most.
    bool Receive(uint32_t timeoutMs);

    // Compares the accepted answer with the request: 0, the device's exception code, or 100 to 102.
    uint8_t CheckAnswer(const uint8_t*& answer, int32_t& length);
    uint8_t GetError() const { return Error; }

    TFrameBuilder Frame;
    uint8_t RxBuf[kRxSize] = {};
    uint8_t TxBuf[kTxSize] = {};

protected:
    uint8_t Error = 0;

private:
    uint8_t Fail(uint8_t code);
    // Searches RxBuf[0..received) for the answer, skipping what comes before it and removing the
    // echo while the option asks for one; true when the answer starts RxBuf (AnswerLen set).
    bool TakeAnswer(int& received, bool& echo);
    uint8_t CheckFunctionFields(uint8_t function) const;

    TFrameFinder Finder;
};
