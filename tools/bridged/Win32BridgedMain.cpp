// modbus-bridged.exe: the bridge without a window (Windows: the thread's message loop, the
// console's control events and the session's end, and the reload requests of --reload), and the
// same bridge as the Windows service (Win32Service.cpp).

#include <string>

#include "BridgePort.h"
#include "HeadlessBridge.h"
#include "ListPorts.h"
#include "ProgramCommandLine.h"
#include "ReloadRequests.h"
#include "SettingsPath.h"
#include "TerminationSignals.h"
#include "UriCodec.h"
#include "Win32MessageLoop.h"
#include "Win32ReloadRequest.h"
#include "Win32Service.h"
#include "Win32SystemLibraries.h"

namespace {

// --reload: the bridge of this session, else the service, reads its sites again; 0 once asked.
int AskRunningBridgeToReload() {
    std::string error;
    TReloadSent sent = SendReloadRequest(error);
    if (sent == TReloadSent::NobodyListens) {
        sent = ReloadService(error);
    }
    switch (sent) {
        case TReloadSent::Sent:
            return 0;
        case TReloadSent::NobodyListens:
            PrintBridgedError(
                "neither a modbus-bridged of this session nor the service runs; nothing was done");
            return 1;
        case TReloadSent::Failed:
            break;
    }
    PrintBridgedError(error);
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Before anything can load a DLL: none may come from the program's own folder.
    if (const std::string error = KeepDllLoadsInSystemFolder(); !error.empty()) {
        PrintBridgedError(error + "; not started");
        return 1;
    }
    const std::string settingsPath = SettingsFilePath(ProgramFilePath());
    const TCommandLine commandLine =
        ParseCommandLine(TBridgeProgram::Headless, kThisPlatform, ProgramArguments(argc, argv));
    if (const std::optional<TProgramAnswer> answer = AnswerWithoutStart(
            commandLine, TBridgeProgram::Headless, kThisPlatform, settingsPath, kBridgePort)) {
        WriteProgramAnswer(*answer);
        return answer->Status;
    }
    switch (commandLine.Action) {
        case TProgramAction::Reload:
            return AskRunningBridgeToReload();
        case TProgramAction::InstallService:
            return InstallService();
        case TProgramAction::UninstallService:
            return UninstallService();
        case TProgramAction::RunService:
            return RunAsService();
        case TProgramAction::ListPorts:
            return PrintPortsTable(settingsPath);
        default:
            break;
    }
    UriCodecSelfTest();
    THeadlessBridge bridge(settingsPath, ConsoleLogLines(stdout));
    if (!bridge.Start()) {
        return 1;
    }
    const TTerminationSignals terminationSignals([&bridge] {
        bridge.Shutdown();
        QuitMessageLoop(0);
    });
    if (!terminationSignals.Ready()) {
        PrintBridgedError(terminationSignals.SetupError());
        return 1;
    }
    const TReloadRequests reloadRequests([&bridge] { bridge.ReloadOrigins(); });
    if (!reloadRequests.Ready()) {
        PrintBridgedError(reloadRequests.SetupError());
        return 1;
    }
    return RunMessageLoop();
}
