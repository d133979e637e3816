// modbus-bridge: the desktop program.

#include <QAction>
#include <QPushButton>
#include <QTimer>
#include <optional>

#include "BridgeApplication.h"
#include "ErrorReport.h"
#include "MainWindow.h"
#include "OriginQuestionBar.h"
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
    // The browser tests answer the question about their page's origin, and that one only, with
    // the bar's own button, once the question is in view.
    const std::string testAllowedOrigin =
        qEnvironmentVariable("MODBUS_BRIDGE_TEST_ALLOW_ORIGIN").toStdString();
    if (!testAllowedOrigin.empty()) {
        form.OriginQuestion->Shown = [&form, testAllowedOrigin, shown = form.OriginQuestion->Shown](
                                         const std::string& origin) {
            shown(origin);
            if (origin == testAllowedOrigin) {
                QTimer::singleShot(0, form.OriginQuestion->Allow, &QPushButton::click);
            }
        };
    }
    form.show();
    // The server could not be set up; the reason is on standard error.
    if (form.Behaviour().StartRefused()) {
        return 1;
    }
    return QApplication::exec();
}
