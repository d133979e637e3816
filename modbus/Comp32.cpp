#include "Comp32.h"

#include "Hex.h"
#include "MonotonicClock.h"

TComp32::TComp32() : TComp32(MakePlatformSerialIo()) {}

TComp32::TComp32(std::unique_ptr<TSerialIo> io) : Io(std::move(io)) {}

TComp32::~TComp32() {
    Close();
}

void TComp32::MapPort(uint8_t port, const std::string& path) {
    const std::lock_guard guard(PortPathsLock);
    PortPaths[port] = path;
}

std::string TComp32::PortPath(uint8_t port) const {
    {
        const std::lock_guard guard(PortPathsLock);
        if (!PortPaths[port].empty()) {
            return PortPaths[port];
        }
    }
    return port == 0 ? std::string() : PlatformPortPath(port);
}

bool TComp32::Open(uint8_t port, int32_t baud) {
    if (IsOpen()) {
        Close();
    }
    PortName = PortPath(port);
    OpenFailure = {};
    if (PortName.empty()) {
        OpenFailure = {TOpenCause::NoDevice, {}};
        return false;
    }
    if (!Io->Open(PortName, baud, OpenFailure)) {
        return false;
    }
    Baud = baud;
    if (!Purge(PurgeTxAbort | PurgeRxAbort | PurgeTxClear | PurgeRxClear)) {
        Close();
        OpenFailure = {TOpenCause::Other, "purge"};
        return false;
    }
    return true;
}

bool TComp32::Close() {
    return Io->Close();
}

bool TComp32::IsOpen() const {
    return Io->IsOpen();
}

bool TComp32::Purge(unsigned flags) {
    // Without overlapped operations to abort, an abort drops the queue as a clear does.
    const bool input = (flags & (PurgeRxAbort | PurgeRxClear)) != 0;
    const bool output = (flags & (PurgeTxAbort | PurgeTxClear)) != 0;
    return IsOpen() && Io->Discard(input, output);
}

bool TComp32::PurgeRx() {
    return Purge(PurgeRxClear);
}

bool TComp32::PurgeTx() {
    return Purge(PurgeTxClear);
}

bool TComp32::SetDtr(uint8_t level) {
    return IsOpen() && Io->SetModemLine(TModemLine::Dtr, level == 1);
}

bool TComp32::SetRts(uint8_t level) {
    return IsOpen() && Io->SetModemLine(TModemLine::Rts, level == 1);
}

uint32_t TComp32::WriteLimitMs(int32_t count, int32_t baud) {
    const uint64_t characters = count > 0 ? static_cast<uint64_t>(count) : 0;
    return static_cast<uint32_t>(LineTimeMs(characters, baud) + 1000U);
}

bool TComp32::Write(const uint8_t* buffer, uint32_t& written, int32_t count) {
    written = 0;
    if (!IsOpen() || count < 0) {
        return false;
    }
    size_t sent = 0;
    const bool done =
        Io->Write(buffer, static_cast<size_t>(count), sent, WriteLimitMs(count, Baud), Stop);
    written = static_cast<uint32_t>(sent);
    return done && written == static_cast<uint32_t>(count);
}

bool TComp32::Read(uint8_t* buffer, uint32_t capacity, uint32_t waitMs, uint32_t& got) {
    got = 0;
    if (!IsOpen()) {
        return false;
    }
    size_t taken = 0;
    const bool done = Io->Read(buffer, capacity, waitMs, taken, Stop);
    got = static_cast<uint32_t>(taken);
    return done && got > 0;
}

uint64_t TComp32::TickMs() {
    return MonotonicMs();
}

std::string TComp32::ToHex(const uint8_t* bytes, int count) {
    if (count <= 0) {
        return {};
    }
    return HexText({bytes, static_cast<size_t>(count)});
}
