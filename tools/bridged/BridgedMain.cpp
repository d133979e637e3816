// modbus-bridged: the bridge without a window, for headless machines and services.

#include <QCoreApplication>
#include <cstdio>

#include "BridgeServer.h"
#include "ConsoleHost.h"
#include "IniFile.h"
#include "LogLine.h"
#include "PortMap.h"
#include "Ravo32.h"
#include "SettingsPath.h"
#include "StopSignals.h"
#include "UriCodec.h"

namespace {

constexpr char kOptions[] = "Options";

void WriteStartLines(TConsoleHost& host) {
    host.LogDate();
    host.LogInfo(std::string(LogText::kCaption));
    host.LogInfo(ViewOptionLine(LogText::kViewErrorLine, host.ViewError()));
    if (!host.ViewError()) {
        host.LogInfo(ViewOptionLine(LogText::kViewSetLine, host.ViewSet()));
        host.LogInfo(ViewOptionLine(LogText::kViewHexLine, host.ViewHex()));
    }
    host.LogInfo(std::string(LogText::kStart));
    host.LogInfo(std::string(LogText::kSeparator));
    host.ShowLinkStatus(0, 0, 0, 0);
}

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
