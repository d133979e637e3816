// modbus-bridged: the bridge without a window, for headless machines and services.

#include <QCoreApplication>
#include <cstdio>

#include "AccessSettings.h"
#include "BridgeServer.h"
#include "ConsoleHost.h"
#include "DemoPages.h"
#include "IniFile.h"
#include "PortMap.h"
#include "Ravo32.h"
#include "SettingsPath.h"
#include "StartLines.h"
#include "TerminationSignals.h"
#include "UriCodec.h"

namespace {

constexpr char kOptions[] = "Options";

}  // namespace

int main(int argc, char* argv[]) {
    UriCodecSelfTest();
    TTerminationSignals::Block();

    QCoreApplication application(argc, argv);
    const TIniFile settings(
        SettingsFilePath(QCoreApplication::applicationFilePath().toStdString()));
    TConsoleHost host(stdout, {settings.ReadBool(kOptions, "ViewError", false),
                               settings.ReadBool(kOptions, "ViewSet", false),
                               settings.ReadBool(kOptions, "ViewHex", false)});
    TRavo32 link;
    ApplyPortMap(settings, link);

    TAccessSettings access = ReadAccessSettings(settings);
    // Nobody is there to answer a question about a new page: only listed origins are served, and
    // the log says how to list one.
    if (access.Origins == TOriginMode::Ask) {
        access.Origins = TOriginMode::List;
    }
    const std::vector<std::string> problems = access.Problems;
    const std::vector<std::string> risks = AccessRisks(access);
    TBridgeServer server(link, host);
    server.SetAccess(std::move(access));
    server.ReportFault = [](const std::string& text) {
        std::fprintf(stderr, "modbus-bridged: %s\n", text.c_str());
    };
    std::string error;
    if (!server.Open(kBridgePort, error)) {
        std::fprintf(stderr, "modbus-bridged: %s\n", error.c_str());
        return 1;
    }
    WriteStartLines(host);
    host.LogInfo(server.ListeningLine());
    host.LogInfo(DemoPageLine(server.ListeningPort()));
    for (const std::string& problem : problems) {
        host.LogError(problem);
    }
    for (const std::string& risk : risks) {
        host.LogError(risk);
    }

    const TTerminationSignals terminationSignals([&server] {
        server.Shutdown();
        QCoreApplication::quit();
    });
    if (!terminationSignals.Ready()) {
        std::perror("modbus-bridged: signalfd");
        return 1;
    }
    return QCoreApplication::exec();
}
