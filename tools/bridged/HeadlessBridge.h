#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "BridgeStartup.h"
#include "ConsoleHost.h"
#include "ProgramMarker.h"

// modbus-bridged on either platform, all but its event loop and the requests to end it: the
// bridge's start with the log on a stream and nobody to ask about a new page. Made on the thread
// that runs the event loop.
class THeadlessBridge {
public:
    // settingsPath in UTF-8.
    THeadlessBridge(const std::string& settingsPath, std::FILE* logStream);
    ~THeadlessBridge() { Shutdown(); }

    // Listens and writes the start lines; false, the reason on standard error, when it cannot.
    bool Start();
    // Stops a running request, closes the port, pauses and closes the server. The headless
    // bridge changes no setting while it runs, so it has none to write.
    void Shutdown() { Startup.Shutdown(); }

private:
    TBridgeStartup Startup;
    // After the start-up, which ends its server before the host goes (Shutdown).
    TConsoleHost Host;
    // Held while it serves, so that the window's start lines can name it.
    std::unique_ptr<TProgramMarker> Marker;
};

// "modbus-bridged: <text>" on standard error.
void PrintBridgedError(const std::string& text);
