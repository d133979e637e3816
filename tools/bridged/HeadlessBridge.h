#pragma once

#include <string>
#include <vector>

#include "BridgeServer.h"
#include "ConsoleHost.h"
#include "IniFile.h"
#include "Ravo32.h"

// modbus-bridged on either platform, all but its event loop and the requests to end it: the
// settings file (beside the program, or in the user's folder), the log on standard output, the
// link with its COM map, and the server with the access settings. Made on the thread that runs
// the event loop.
class THeadlessBridge {
public:
    // programPath in UTF-8.
    explicit THeadlessBridge(const std::string& programPath);

    // Listens and writes the start lines; false, the reason on standard error, when it cannot.
    bool Start();
    // Stops a running request, closes the port, pauses and closes the server. The headless
    // bridge changes no setting while it runs, so it has none to write.
    void Shutdown() { Server.Shutdown(); }

private:
    const TIniFile Settings;
    TConsoleHost Host;
    TRavo32 Link;
    TBridgeServer Server;
    std::vector<std::string> Problems;
    // The start lines of settings that let any web site reach the devices.
    std::vector<std::string> Risks;
};

// "modbus-bridged: <text>" on standard error.
void PrintBridgedError(const std::string& text);
