#include "HeadlessBridge.h"

#include <cstdio>

#include "AccessSettings.h"
#include "BridgePort.h"
#include "ConsoleLine.h"
#include "DemoPages.h"
#include "PortMap.h"
#include "SettingsPath.h"
#include "StartLines.h"

namespace {

constexpr char kOptions[] = "Options";

}  // namespace

void PrintBridgedError(const std::string& text) {
    WriteConsoleLine(stderr, "modbus-bridged: " + text);
}

THeadlessBridge::THeadlessBridge(const std::string& programPath)
    : Settings(SettingsFilePath(programPath)),
      Host(stdout, {Settings.ReadBool(kOptions, "ViewError", false),
                    Settings.ReadBool(kOptions, "ViewSet", false),
                    Settings.ReadBool(kOptions, "ViewHex", false)}),
      Server(Link, Host) {
    ApplyPortMap(Settings, Link);
    TAccessSettings access = ReadAccessSettings(Settings);
    // Nobody is there to answer a question about a new page: only listed origins are served, and
    // the log says how to list one.
    if (access.Origins == TOriginMode::Ask) {
        access.Origins = TOriginMode::List;
    }
    Problems = access.Problems;
    Risks = AccessRisks(access);
    Server.SetAccess(std::move(access));
    Server.ReportFault = [](const std::string& text) { PrintBridgedError(text); };
}

bool THeadlessBridge::Start() {
    std::string error;
    if (!Server.Open(kBridgePort, error)) {
        PrintBridgedError(error);
        return false;
    }
    WriteStartLines(Host);
    Host.LogInfo(Server.ListeningLine());
    Host.LogInfo(DemoPageLine(Server.ListeningPort()));
    for (const std::string& problem : Problems) {
        Host.LogError(problem);
    }
    for (const std::string& risk : Risks) {
        Host.LogError(risk);
    }
    return true;
}
