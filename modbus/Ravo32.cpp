#include "Ravo32.h"

#include <cstring>

#include "Crc16.h"
#include "ErrorText.h"
#include "FrameReader.h"
#include "ModbusProtocol.h"
#include "TurnaroundEcho.h"

namespace {

// A frame of the link's buffers; a length below zero holds nothing.
TFrameReader FrameOf(const uint8_t* bytes, int32_t length) {
    return TFrameReader({bytes, length > 0 ? static_cast<size_t>(length) : 0});
}

// True when both frames hold the bytes at the positions and they are equal.
bool SameBytes(const TFrameReader& request, const TFrameReader& answer, size_t first,
               size_t count) {
    for (size_t position = first; position < first + count; ++position) {
        if (!request.Has(position) || !answer.Has(position) ||
            request.At(position) != answer.At(position)) {
            return false;
        }
    }
    return true;
}

}  // namespace

TRavo32::TRavo32() = default;

TRavo32::TRavo32(std::unique_ptr<TSerialIo> io) : TRs485(std::move(io)) {}

TRavo32::~TRavo32() {
    Disconnect();
}

bool TRavo32::Connect(uint8_t port, uint8_t slave, int32_t baud) {
    Error = ErrorCode::None;
    if (IsOpen()) {
        Disconnect();
    }
    Frame.Reset();
    if (!Open(port, baud)) {
        Error = ErrorCode::PortOpen;
        return false;
    }
    Frame.FrameSetup(slave, TxBuf, kTxSize);
    if (!RxMode()) {
        Disconnect();
        Error = ErrorCode::PortOpen;
        OpenFailure = {TOpenCause::Other, "DTR/RTS"};
        return false;
    }
    return true;
}

bool TRavo32::Disconnect() {
    Error = ErrorCode::None;
    return Close();
}

bool TRavo32::Transact(int32_t timeoutMs) {
    if (!IsOpen()) {
        Error = ErrorCode::PortOperation;
        return false;
    }
    TxMode();
    uint32_t written = 0;
    const bool sent = Write(Frame.FrameBuf, written, Frame.FrameLen);
    RxMode();
    if (!sent) {
        Error = ErrorCode::PortOperation;
        return false;
    }
    if (timeoutMs == 0) {
        return true;
    }
    return Receive(static_cast<uint32_t>(timeoutMs));
}

bool TRavo32::Receive(uint32_t timeoutMs) {
    bool echo = GetEcho() != 0;
    const uint64_t start = TickMs();
    Finder.Reset(Frame.FrameSlave, TxBuf[1]);

    // What the port holds already came while the request was on the line. Its head may be the
    // echo, which is settled before anything is searched, so that the echo is never taken for
    // the answer and the answer never for the echo.
    uint32_t held = 0;
    Read(RxBuf, static_cast<uint32_t>(kRxSize), 0, held);
    int received = static_cast<int>(held);
    bool echoUndecided = received > 0;

    for (;;) {
        if (echoUndecided) {
            const int echoLength = EchoAtHead(RxBuf, received, Frame.FrameBuf, Frame.FrameLen);
            echoUndecided = echoLength == kEchoUndecided;
            if (echoLength > 0) {
                std::memmove(RxBuf, RxBuf + echoLength, static_cast<size_t>(received - echoLength));
                received -= echoLength;
                // This exchange's one echo is gone: a copy of the request after it is the answer.
                echo = false;
            }
        }
        if (!echoUndecided && TakeAnswer(received, echo)) {
            Error = ErrorCode::None;
            return true;
        }

        const uint64_t elapsed = TickMs() - start;
        if (elapsed >= timeoutMs) {
            Error = ErrorCode::AnswerTimeout;
            return false;
        }
        uint32_t got = 0;
        const uint32_t wait = static_cast<uint32_t>(timeoutMs - elapsed);
        if (!Read(RxBuf + received, static_cast<uint32_t>(kRxSize - received), wait, got)) {
            Error = ErrorCode::AnswerTimeout;
            return false;
        }
        received += static_cast<int>(got);
    }
}

bool TRavo32::TakeAnswer(int& received, bool& echo) {
    Finder.Scan(RxBuf, received);
    while (const auto frame = Finder.Frame()) {
        if (frame->Start > 0) {
            std::memmove(RxBuf, RxBuf + frame->Start, static_cast<size_t>(received - frame->Start));
            received -= frame->Start;
            Finder.Discard(frame->Start);
        }
        const bool isEcho =
            echo && frame->Length == Frame.FrameLen &&
            std::memcmp(RxBuf, Frame.FrameBuf, static_cast<size_t>(frame->Length)) == 0;
        if (!isEcho) {
            Frame.AnswerLen = static_cast<int16_t>(frame->Length);
            return true;
        }
        // One echo per exchange; the answer may already be held behind it.
        std::memmove(RxBuf, RxBuf + frame->Length, static_cast<size_t>(received - frame->Length));
        received -= frame->Length;
        Finder.Discard(frame->Length);
        echo = false;
    }
    return false;
}

uint8_t TRavo32::Fail(uint8_t code) {
    Error = code;
    return code;
}

uint8_t TRavo32::CheckAnswer(const uint8_t*& answer, int32_t& length) {
    answer = RxBuf;
    length = Frame.AnswerLen;
    if (Error != ErrorCode::None) {
        return Error;
    }
    const TFrameReader request = FrameOf(Frame.FrameBuf, Frame.FrameLen);
    const TFrameReader reply = FrameOf(RxBuf, Frame.AnswerLen);
    const int function = reply.Has(1) ? reply.At(1) : -1;

    // Binding and boot-loader answers carry no fields to check.
    if (function == FunctionCode::OwnBind || function == FunctionCode::BootLoader) {
        return ErrorCode::None;
    }
    if (!SameBytes(request, reply, 0, 1)) {
        return Fail(ErrorCode::ForeignAddress);
    }
    if (Frame.FrameLen < 3 || Frame.FrameLen > kTxSize || Frame.AnswerLen < 3) {
        return Fail(ErrorCode::BadLength);
    }
    if (!CheckCrc(Frame.FrameBuf, Frame.FrameLen) || !CheckCrc(RxBuf, Frame.AnswerLen)) {
        return Fail(ErrorCode::BadCrc);
    }
    if ((function & kExceptionBit) != 0) {
        return Fail(reply.At(2));
    }
    return Fail(CheckFunctionFields(static_cast<uint8_t>(function)));
}

uint8_t TRavo32::CheckFunctionFields(uint8_t function) const {
    const TFrameReader request = FrameOf(Frame.FrameBuf, Frame.FrameLen);
    const TFrameReader reply = FrameOf(RxBuf, Frame.AnswerLen);
    switch (function) {
        case FunctionCode::ReadHoldingRegisters:
        case FunctionCode::ReadInputRegisters:
            // The quantity asked for must match the byte count of the answer.
            if (!request.Has(5) || request.Word(4) != reply.At(2) / 2) {
                return ErrorCode::BadLength;
            }
            return ErrorCode::None;
        case FunctionCode::WriteSingleRegister:
            return SameBytes(request, reply, 2, 2) ? ErrorCode::None : ErrorCode::ForeignAddress;
        case FunctionCode::WriteMultipleRegisters:
            return SameBytes(request, reply, 2, 4) ? ErrorCode::None : ErrorCode::ForeignAddress;
        case FunctionCode::ReadFileRecord: {
            if (!request.Has(2)) {
                return ErrorCode::ForeignAddress;
            }
            // The sums are 16-bit, as the devices compute them.
            auto expected = static_cast<uint16_t>(kCountedFrameOverhead);
            for (size_t k = 0; k < size_t{request.At(2)} / kFileSubRequestBytes; ++k) {
                // The record length is the last word of the sub-request.
                const size_t lengthAt = kCountedDataAt + kFileSubRequestBytes * k + 5;
                if (!request.Has(lengthAt + 1)) {
                    return ErrorCode::ForeignAddress;
                }
                // A sub-response: its length byte, the reference type, the registers.
                expected = static_cast<uint16_t>(expected + 2 * request.Word(lengthAt) + 2);
            }
            const bool fits = Frame.AnswerLen == reply.At(2) + kCountedFrameOverhead &&
                              Frame.AnswerLen == expected;
            return fits ? ErrorCode::None : ErrorCode::ForeignAddress;
        }
        case FunctionCode::ReadSectionDevice:
            return reply.At(2) == kDeviceSectionBytes &&
                           Frame.AnswerLen == kDeviceSectionAnswerBytes
                       ? ErrorCode::None
                       : ErrorCode::ForeignAddress;
        default:
            return ErrorCode::None;
    }
}
