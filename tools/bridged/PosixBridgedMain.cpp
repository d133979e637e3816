// modbus-bridged: the bridge without a window, for headless machines and services (Linux: Qt's
// event loop, SIGINT and SIGTERM).

#include <QCoreApplication>
#include <string_view>

#include "HeadlessBridge.h"
#include "ListPorts.h"
#include "TerminationSignals.h"
#include "UriCodec.h"

int main(int argc, char* argv[]) {
    if (argc == 2 && std::string_view(argv[1]) == "--list-ports") {
        QCoreApplication application(argc, argv);
        return PrintPortsTable(QCoreApplication::applicationFilePath().toStdString());
    }
    UriCodecSelfTest();
    // Blocked from here on, SIGINT and SIGTERM reach the program only through the termination
    // signals' descriptor; unblocked, they would end it without its shutdown.
    if (!TTerminationSignals::Block()) {
        PrintBridgedError("SIGINT and SIGTERM cannot be blocked; not started");
        return 1;
    }

    QCoreApplication application(argc, argv);
    THeadlessBridge bridge(QCoreApplication::applicationFilePath().toStdString());
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
