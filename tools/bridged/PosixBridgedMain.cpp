// modbus-bridged: the bridge without a window, for headless machines and services (Linux: Qt's
// event loop, SIGINT and SIGTERM to end it, SIGHUP to read the sites again).

#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>

#include "BridgePort.h"
#include "HeadlessBridge.h"
#include "ListPorts.h"
#include "ProgramCommandLine.h"
#include "ReloadRequests.h"
#include "SettingsPath.h"
#include "TerminationSignals.h"
#include "UriCodec.h"

namespace {

// True when what the log goes to has hung up or gone: a terminal whose window closed or whose
// SSH session ended (no longer a terminal then: isatty cannot tell), a pipe whose reader left.
// The SIGHUP that comes with that still ends the program, as it did before SIGHUP came to mean
// "read the sites again".
bool LogOutputHungUp() {
    pollfd output{STDOUT_FILENO, POLLOUT, 0};
    return poll(&output, 1, 0) == 1 && (output.revents & (POLLHUP | POLLERR)) != 0;
}

}  // namespace

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
    // Blocked from here on, SIGINT, SIGTERM and SIGHUP reach the program only through their
    // descriptors; unblocked, they would end it without its shutdown.
    if (!TTerminationSignals::Block() || !TReloadRequests::Block()) {
        PrintBridgedError("SIGINT, SIGTERM and SIGHUP cannot be blocked; not started");
        return 1;
    }

    QCoreApplication application(argc, argv);
    THeadlessBridge bridge(settingsPath, ConsoleLogLines(stdout));
    if (!bridge.Start()) {
        return 1;
    }
    const auto stop = [&bridge] {
        bridge.Shutdown();
        QCoreApplication::quit();
    };
    const TTerminationSignals terminationSignals(stop);
    if (!terminationSignals.Ready()) {
        PrintBridgedError(terminationSignals.SetupError());
        return 1;
    }
    const TReloadRequests reloadRequests([&bridge, &stop] {
        if (LogOutputHungUp()) {
            stop();
        } else {
            bridge.ReloadOrigins();
        }
    });
    if (!reloadRequests.Ready()) {
        PrintBridgedError(reloadRequests.SetupError());
        return 1;
    }
    return QCoreApplication::exec();
}
