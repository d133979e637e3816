// modbus-bridged: the bridge without a window, for headless machines and services (Linux: Qt's
// event loop, SIGINT and SIGTERM).

#include <QCoreApplication>

#include "BridgePort.h"
#include "HeadlessBridge.h"
#include "ListPorts.h"
#include "ProgramCommandLine.h"
#include "SettingsPath.h"
#include "TerminationSignals.h"
#include "UriCodec.h"

int main(int argc, char* argv[]) {
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
    // Blocked from here on, SIGINT and SIGTERM reach the program only through the termination
    // signals' descriptor; unblocked, they would end it without its shutdown.
    if (!TTerminationSignals::Block()) {
        PrintBridgedError("SIGINT and SIGTERM cannot be blocked; not started");
        return 1;
    }

    QCoreApplication application(argc, argv);
    THeadlessBridge bridge(settingsPath, stdout);
    if (!bridge.Start()) {
        return 1;
    }
    const TTerminationSignals terminationSignals([&bridge] {
        bridge.Shutdown();
        QCoreApplication::quit();
    });
    if (!terminationSignals.Ready()) {
        PrintBridgedError(terminationSignals.SetupError());
        return 1;
    }
    return QCoreApplication::exec();
}
