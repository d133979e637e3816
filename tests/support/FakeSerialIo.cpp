#include "FakeSerialIo.h"

#include <algorithm>
#include <cstring>

#include "Comp32.h"

bool TFakeSerialIo::Open(const std::string& path, int32_t baud, TOpenFailure& failure) {
    Events.push_back("open " + path + " " + std::to_string(baud));
    open_ = !FailOpen;
    if (FailOpen) {
        failure = {TOpenCause::Other, "scripted"};
    }
    return open_;
}

bool TFakeSerialIo::Close() {
    if (!open_) {
        return false;
    }
    Events.emplace_back("close");
    open_ = false;
    return true;
}

bool TFakeSerialIo::Discard(bool input, bool output) {
    Events.push_back(std::string("purge") + (input ? " rx" : "") + (output ? " tx" : ""));
    if (FailDiscard) {
        return false;
    }
    if (input) {
        Held.clear();
    }
    return true;
}

bool TFakeSerialIo::SetModemLine(TModemLine line, bool raised) {
    Events.push_back(std::string(line == TModemLine::Dtr ? "dtr " : "rts ") + (raised ? "1" : "0"));
    return !FailModemLines;
}

bool TFakeSerialIo::Write(const uint8_t* data, size_t count, size_t& written, uint32_t limitMs,
                          const TStopSignal& stop) {
    Events.push_back("write " + TComp32::ToHex(data, static_cast<int>(count)));
    LastWriteLimitMs = limitMs;
    written = 0;
    if (FailWrite || stop.Requested()) {
        return false;
    }
    Written.emplace_back(data, data + count);
    if (!DuringWrite.empty()) {
        Arrive(DuringWrite.front());
        DuringWrite.pop_front();
    }
    written = count - std::min(count, ShortWriteBy);
    return written == count;
}

bool TFakeSerialIo::Read(uint8_t* buffer, size_t capacity, uint32_t waitMs, size_t& got,
                         const TStopSignal& stop) {
    got = 0;
    ReadWaits.push_back(waitMs);
    if (stop.Requested()) {
        return false;
    }
    if (Held.empty() && waitMs > 0 && !Chunks.empty()) {
        Arrive(Chunks.front());
        Chunks.pop_front();
    }
    if (Held.empty() || Held.size() > capacity) {
        return false;
    }
    std::memcpy(buffer, Held.data(), Held.size());
    got = Held.size();
    Held.clear();
    return true;
}
