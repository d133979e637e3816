#pragma once

#include <cstdio>
#include <string>

#include "BridgeStartup.h"
#include "ConsoleHost.h"

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
    // Reads [Origins] again (TBridgeStartup::ReloadOrigins).
    void ReloadOrigins() { Startup.ReloadOrigins(Host); }
    // Stops a running request, closes the port, pauses and closes the server. The headless
    // bridge changes no setting while it runs, so it has none to write.
    void Shutdown() { Startup.Shutdown(); }

private:
    TBridgeStartup Startup;
    // After the start-up, which ends its server before the host goes (Shutdown).
    TConsoleHost Host;
};

// "modbus-bridged: <text>" on standard error.
void PrintBridgedError(const std::string& text);
