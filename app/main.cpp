// modbus-bridge: the desktop program.

#include <QAction>
#include <QTimer>
#include <optional>

#include "BridgeApplication.h"
#include "ErrorReport.h"
#include "MainWindow.h"
#include "SettingsPath.h"
#include "TerminationSignals.h"
#include "UriCodec.h"

int main(int argc, char* argv[]) {
    UriCodecSelfTest();
    // Blocked from here on, SIGINT and SIGTERM reach the program only through the termination
    // signals' descriptor: without one, a logout or a service stop would go unheard for good.
    if (!TTerminationSignals::Block()) {
        PrintErrorReport(QStringLiteral("SIGINT and SIGTERM cannot be blocked; not started"));
        return 1;
    }
    TBridgeApplication application(argc, argv);
    TForm1 form(SettingsFilePath(QCoreApplication::applicationFilePath().toStdString()));
    // A logout or a service stop closes the window as "Выход" does, so the settings are kept.
    const TTerminationSignals terminationSignals([&form] { form.CloseOnTerminationSignal(); });
    if (!terminationSignals.Ready()) {
        PrintErrorReport(QStringLiteral("SIGINT and SIGTERM cannot be received (%1); not started")
                             .arg(QString::fromStdString(terminationSignals.SetupError())));
        return 1;
    }
    // The package test saves the log of an installed copy without a person at the dialog: the
    // name it gives is taken in the save folder, once, right after start-up.
    const QString testSaveName = qEnvironmentVariable("MODBUS_BRIDGE_TEST_SAVE_AS");
    if (!testSaveName.isEmpty()) {
        form.AskSaveFileName = [testSaveName](const QString& folder, const QString&) {
            return std::optional<QString>(folder + QLatin1Char('/') + testSaveName);
        };
        QTimer::singleShot(0, form.M1_Save, &QAction::trigger);
    }
    form.show();
    return QApplication::exec();
}
