#pragma once

#include <cstdint>

// Builds a request frame (slave address, PDU, CRC) in the link's transmit buffer and keeps the
// lengths of the request and of the accepted answer.
struct TFrameBuilder {
    uint8_t FrameSlave = 0;
    uint8_t* FrameBuf = nullptr;
    int16_t FrameSize = 0;
    int16_t AnswerLen = 0;
    int16_t FrameLen = 0;

    // Back to zeros: FrameAdd refuses every byte until the next FrameSetup.
    void Reset() { *this = TFrameBuilder{}; }
    void FrameSetup(uint8_t slave, uint8_t* buffer, int16_t size);
    bool FrameBegin();
    // Drops the byte and returns false once the buffer is full.
    bool FrameAdd(uint8_t byte);
    bool FrameAddCrc();
};
