#pragma once

#include <string>

#include "TestFrames.h"

// The master's end of the simulated line: opens the terminal path as a serial port in raw mode.
// Every wait is bounded, so a broken simulator fails a test instead of hanging it.
class TPtyClient {
public:
    TPtyClient() = default;
    ~TPtyClient() { Close(); }
    TPtyClient(const TPtyClient&) = delete;
    TPtyClient& operator=(const TPtyClient&) = delete;

    // Raw mode unless asIs: then the terminal keeps the settings the simulator gave it.
    bool Open(const std::string& path, bool asIs = false);
    void Close();

    // Sets the line to any rate in baud, as the bridge does for a request.
    bool SetBaud(uint32_t baud);

    bool Send(const TBytes& bytes);

    // Reads until count bytes have come or timeoutMs has passed; what came.
    TBytes Receive(size_t count, int timeoutMs);

    // True when not a byte arrives within the time.
    bool StaysQuiet(int milliseconds);

private:
    int fd_ = -1;
};
