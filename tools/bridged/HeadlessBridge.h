#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "BridgeStartup.h"
#include "LineHost.h"
#include "ProgramMarker.h"

// modbus-bridged on either platform, all but its event loop and the requests to end it: the
// bridge's start with the log on a sink and nobody to ask about a new page. Made on the thread
// that runs the event loop.
class THeadlessBridge {
public:
    // settingsPath in UTF-8.
    THeadlessBridge(const std::string& settingsPath, TLogLineSink logLines);
    ~THeadlessBridge() { Shutdown(); }

    // In a console: listens and writes the start lines; false, the reason on standard error, when
    // it cannot.
    bool Start();
    // As a service, where nobody reads standard error: the start lines, and the line that says
    // why when it cannot listen, go to the log; the outcome says whether it serves.
    TStartOutcome StartUnattended();
    // Why the settings file could not be read; empty when it was read or did not exist.
    const std::string& SettingsError() const { return Startup.SettingsError(); }
    // A line of the shell's own.
    void LogError(const std::string& text) { Host.LogError(text); }
    // Reads [Origins] again (TBridgeStartup::ReloadOrigins).
    void ReloadOrigins() { Startup.ReloadOrigins(Host); }
    // Stops a running request, closes the port, pauses and closes the server. The headless
    // bridge changes no setting while it runs, so it has none to write.
    void Shutdown() { Startup.Shutdown(); }

private:
    TBridgeStartup Startup;
    // After the start-up, which ends its server before the host goes (Shutdown).
    TLineHost Host;
    // Held while it serves, so that the window's start lines can name it.
    std::unique_ptr<TProgramMarker> Marker;
};

// Each line to the stream as a whole line (WriteConsoleLine).
TLogLineSink ConsoleLogLines(std::FILE* stream);

// "modbus-bridged: <text>" on standard error.
void PrintBridgedError(const std::string& text);
