// modbus-bridge: the desktop program.

#include "Autostart.h"
#include "BridgeApplication.h"
#include "BridgePort.h"
#include "ErrorReport.h"
#include "MainWindow.h"
#include "OneCopy.h"
#include "ProgramCommandLine.h"
#include "ProgramMarker.h"
#include "QtCopyLink.h"
#include "QtTray.h"
#include "SettingsPath.h"
#include "TerminationSignals.h"
#include "UriCodec.h"

int main(int argc, char* argv[]) {
    // Before Qt's application, which needs a display: --help and --version work without one.
    const std::string programPath = ProgramFilePath();
    const std::string settingsPath = SettingsFilePath(programPath);
    const TCommandLine commandLine =
        ParseCommandLine(TBridgeProgram::Window, kThisPlatform, ProgramArguments(argc, argv));
    if (const std::optional<TProgramAnswer> answer = AnswerWithoutStart(
            commandLine, TBridgeProgram::Window, kThisPlatform, settingsPath, kBridgePort)) {
        WriteProgramAnswer(*answer);
        return answer->Status;
    }
    UriCodecSelfTest();
    // Blocked from here on, SIGINT and SIGTERM reach the program only through the termination
    // signals' descriptor: without one, a logout or a service stop would go unheard for good.
    if (!TTerminationSignals::Block()) {
        PrintErrorReport(QStringLiteral("SIGINT and SIGTERM cannot be blocked; not started"));
        return 1;
    }
    TBridgeApplication application(argc, argv);
    // A box closed while the window hides in the tray must not end the program: the window's
    // close does (QuitOnClose).
    QApplication::setQuitOnLastWindowClosed(false);
    // Before a port is opened or the settings read: a later start of the user's window brings the
    // running one into sight and ends. The request comes through the event loop, the form there.
    TForm1* shownOnRequest = nullptr;
    TQtCopyLink copyLink;
    const TOneCopyStart oneCopy =
        StartAsOneCopy(copyLink, commandLine.Minimized, [&shownOnRequest] {
            return shownOnRequest != nullptr && shownOnRequest->Behaviour().ShowForLaterStart();
        });
    if (!oneCopy.Message.empty()) {
        PrintErrorReport(QString::fromStdString(oneCopy.Message));
    }
    // Started from a launcher, nothing else would tell why no window comes.
    if (oneCopy.ExitStatus != 0) {
        ShowErrorReport(QString::fromStdString(oneCopy.Message));
    }
    if (!oneCopy.Run) {
        return oneCopy.ExitStatus;
    }
    TForm1 form(settingsPath);
    shownOnRequest = &form;
    // The start line names modbus-bridged when it holds the port.
    form.Behaviour().PortHolder = [](uint16_t) { return MarkedPortHolder(TMarkedProgram::Window); };
    form.QuitOnClose = true;
    TQtTray tray(form.Behaviour());
    TAutostart autostart(programPath);
    form.Behaviour().AttachTray(tray);
    form.Behaviour().AttachAutostart(autostart);
    // Started at login: hidden in the tray.
    form.Behaviour().StartMinimized = commandLine.Minimized;
    // A logout or a service stop closes the window as "Выход" does, so the settings are kept.
    const TTerminationSignals terminationSignals([&form] { form.CloseOnTerminationSignal(); });
    if (!terminationSignals.Ready()) {
        PrintErrorReport(QStringLiteral("SIGINT and SIGTERM cannot be received (%1); not started")
                             .arg(QString::fromStdString(terminationSignals.SetupError())));
        return 1;
    }
    form.Start();
    // The server could not be set up; the reason is on standard error.
    if (form.Behaviour().StartRefused()) {
        return 1;
    }
    return QApplication::exec();
}
