// modbus-bridged.exe: the bridge without a window (Windows: the thread's message loop, the
// console's control events and the session's end).

#include <string>

#include "BridgePort.h"
#include "HeadlessBridge.h"
#include "ListPorts.h"
#include "ProgramCommandLine.h"
#include "SettingsPath.h"
#include "TerminationSignals.h"
#include "UriCodec.h"
#include "Win32MessageLoop.h"
#include "Win32SystemLibraries.h"

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
    if (commandLine.Action == TProgramAction::ListPorts) {
        return PrintPortsTable(settingsPath);
    }
    UriCodecSelfTest();
    THeadlessBridge bridge(settingsPath, stdout);
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
    return RunMessageLoop();
}
