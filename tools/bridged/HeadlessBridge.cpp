#include "HeadlessBridge.h"

#include "ConsoleLine.h"

void PrintBridgedError(const std::string& text) {
    WriteConsoleLine(stderr, "modbus-bridged: " + text);
}

TLogLineSink ConsoleLogLines(std::FILE* stream) {
    return [stream](const TLocalTime&, std::string_view line) { WriteConsoleLine(stream, line); };
}

THeadlessBridge::THeadlessBridge(const std::string& settingsPath, TLogLineSink logLines)
    : Startup(settingsPath), Host(std::move(logLines), Startup.ViewOptions()) {}

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

TStartOutcome THeadlessBridge::StartUnattended() {
    TBridgeShell shell;
    shell.StartLinesWithoutServer = true;
    shell.PortHolder = [](uint16_t) { return MarkedPortHolder(TMarkedProgram::Headless); };
    TStartOutcome outcome = Startup.Start(Host, std::move(shell));
    if (outcome.Result == TStartResult::NotSetUp) {
        Host.LogError("The server cannot be set up (" + outcome.Reason + "); not started");
    } else if (outcome.Result == TStartResult::Serving) {
        // The service too: a window started beside it names it.
        Marker = std::make_unique<TProgramMarker>(TMarkedProgram::Headless);
    }
    return outcome;
}
