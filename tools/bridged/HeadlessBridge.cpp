#include "HeadlessBridge.h"

#include "ConsoleLine.h"

void PrintBridgedError(const std::string& text) {
    WriteConsoleLine(stderr, "modbus-bridged: " + text);
}

THeadlessBridge::THeadlessBridge(const std::string& settingsPath, std::FILE* logStream)
    : Startup(settingsPath), Host(logStream, Startup.ViewOptions()) {}

bool THeadlessBridge::Start() {
    TBridgeShell shell;
    shell.ReportFault = [](const std::string& text) { PrintBridgedError(text); };
    shell.PortHolder = [](uint16_t) { return MarkedPortHolder(TMarkedProgram::Headless); };
    const TStartOutcome outcome = Startup.Start(Host, std::move(shell));
    if (outcome.Result != TStartResult::Serving) {
        PrintBridgedError(outcome.Reason);
        return false;
    }
    Marker = std::make_unique<TProgramMarker>(TMarkedProgram::Headless);
    return true;
}
