#include "FrameBuilder.h"

#include "Crc16.h"

void TFrameBuilder::FrameSetup(uint8_t slave, uint8_t* buffer, int16_t size) {
    FrameSlave = slave;
    FrameBuf = buffer;
    FrameSize = size;
}

bool TFrameBuilder::FrameBegin() {
    AnswerLen = 0;
    FrameLen = 0;
    return FrameAdd(FrameSlave);
}

bool TFrameBuilder::FrameAdd(uint8_t byte) {
    if (FrameBuf == nullptr || FrameLen >= FrameSize) {
        return false;
    }
    FrameBuf[FrameLen++] = byte;
    return true;
}

bool TFrameBuilder::FrameAddCrc() {
    const uint16_t crc =
        FrameBuf == nullptr ? kCrc16Initial : Crc16(FrameBuf, static_cast<size_t>(FrameLen));
    const bool low = FrameAdd(static_cast<uint8_t>(crc & 0xFF));
    const bool high = FrameAdd(static_cast<uint8_t>(crc >> 8));
    return low && high;
}
