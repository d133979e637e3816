#pragma once

#include <memory>

#include "FakeSerialIo.h"
#include "Ravo32.h"
#include "TestFrames.h"

// A link on a scripted port: COM1 is mapped to a fake device.
struct TFakeLink {
    TFakeLink() : Io(new TFakeSerialIo), Link(std::unique_ptr<TSerialIo>(Io)) {
        Link.MapPort(1, "/dev/fake0");
    }

    void BuildRequest(const TBytes& pdu) {
        Link.Frame.FrameBegin();
        for (uint8_t byte : pdu) {
            Link.Frame.FrameAdd(byte);
        }
        Link.Frame.FrameAddCrc();
    }

    TBytes Request() const {
        return TBytes(Link.Frame.FrameBuf, Link.Frame.FrameBuf + Link.Frame.FrameLen);
    }

    TBytes Answer() const { return TBytes(Link.RxBuf, Link.RxBuf + Link.Frame.AnswerLen); }

    TFakeSerialIo* Io;  // owned by the link
    TRavo32 Link;
};
