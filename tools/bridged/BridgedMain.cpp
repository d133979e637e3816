// modbus-bridged: the bridge without a window, for headless machines and services.

#include <QCoreApplication>
#include <cstdio>

#include "BridgeServer.h"
#include "ConsoleHost.h"
#include "IniFile.h"
#include "PortMap.h"
#include "Ravo32.h"
#include "SettingsPath.h"
#include "StartLines.h"
#include "StopSignals.h"
#include "UriCodec.h"

namespace {

constexpr char kOptions[] = "Options";

}  // namespace

int main(int argc, char* argv[]) {
    UriCodecSelfTest();
    TStopSignals::BlockStopSignals();

    QCoreApplication application(argc, argv);
    const TIniFile settings(
        SettingsFilePath(QCoreApplication::applicationFilePath().toStdString()));
    TConsoleHost host(stdout, {settings.ReadBool(kOptions, "ViewError", false),
                               settings.ReadBool(kOptions, "ViewSet", false),
                               settings.ReadBool(kOptions, "ViewHex", false)});
    TRavo32 link;
    ApplyPortMap(settings, link);

    TBridgeServer server(link, host);
    std::string error;
    if (!server.Open(TBridgeServer::kPort, error)) {
        std::fprintf(stderr, "modbus-bridged: %s\n", error.c_str());
        return 1;
    }
    WriteStartLines(host);

    const TStopSignals stopSignals([&server] {
        server.Shutdown();
        QCoreApplication::quit();
    });
    if (!stopSignals.Ready()) {
        std::perror("modbus-bridged: signalfd");
        return 1;
    }
    return QCoreApplication::exec();
}
