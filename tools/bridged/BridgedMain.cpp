// modbus-bridged: the bridge without a window, for headless machines and services.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "BridgeServer.h"
#include "ConsoleHost.h"
#include "IniFile.h"
#include "LogLine.h"
#include "PortMap.h"
#include "Ravo32.h"
#include "SettingsPath.h"
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

// SIGINT and SIGTERM arrive as readable data on a descriptor of the event loop; they are blocked
// before any thread starts, so no thread is interrupted by them.
int BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char* argv[]) {
    UriCodecSelfTest();
    const int signalFd = BlockStopSignals();
    if (signalFd < 0) {
        std::perror("modbus-bridged: signalfd");
        return 1;
    }

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

    QSocketNotifier stopNotifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &application, [&] {
        signalfd_siginfo received{};
        [[maybe_unused]] const ssize_t got = read(signalFd, &received, sizeof received);
        stopNotifier.setEnabled(false);
        server.Shutdown();
        QCoreApplication::quit();
    });
    const int status = QCoreApplication::exec();
    close(signalFd);
    return status;
}
