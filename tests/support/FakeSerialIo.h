#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "SerialIo.h"

// A scripted serial port: records every call as a line of text (modem line levels and purges
// included, which pseudo-terminals cannot show) and delivers bytes at chosen moments: before an
// exchange, while a request is on the line, or while a read waits. Like a driver it holds what
// arrived until a read takes it all or a purge drops it.
class TFakeSerialIo final : public TSerialIo {
public:
    bool Open(const std::string& path, int32_t baud, TOpenFailure& failure) override;
    bool Close() override;
    bool IsOpen() const override { return open_; }
    bool Discard(bool input, bool output) override;
    bool SetModemLine(TModemLine line, bool raised) override;
    bool Write(const uint8_t* data, size_t count, size_t& written, uint32_t limitMs,
               const TStopSignal& stop) override;
    bool Read(uint8_t* buffer, size_t capacity, uint32_t waitMs, size_t& got,
              const TStopSignal& stop) override;

    // Arrives while a read waits: a read that finds nothing held takes the next chunk (one that
    // does not wait takes none); with none left, or an empty one, it fails as a time-out does.
    void QueueChunk(std::vector<uint8_t> chunk) { Chunks.push_back(std::move(chunk)); }
    // Arrives while the next request is on the line: an echo, or an answer quicker than the
    // writer's return.
    void ArriveDuringWrite(std::vector<uint8_t> chunk) { DuringWrite.push_back(std::move(chunk)); }
    // Arrives now, before anything else happens.
    void Arrive(const std::vector<uint8_t>& bytes) {
        Held.insert(Held.end(), bytes.begin(), bytes.end());
    }

    std::vector<std::string> Events;
    std::vector<std::vector<uint8_t>> Written;
    std::deque<std::vector<uint8_t>> Chunks;
    std::deque<std::vector<uint8_t>> DuringWrite;
    std::vector<uint8_t> Held;
    std::vector<uint32_t> ReadWaits;
    uint32_t LastWriteLimitMs = 0;

    bool FailOpen = false;
    bool FailModemLines = false;
    bool FailDiscard = false;
    bool FailWrite = false;
    size_t ShortWriteBy = 0;

private:
    bool open_ = false;
};
