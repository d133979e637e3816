// modbus-bridge: the desktop program.

#include "BridgeApplication.h"
#include "MainWindow.h"
#include "SettingsPath.h"
#include "StopSignals.h"
#include "UriCodec.h"

int main(int argc, char* argv[]) {
    UriCodecSelfTest();
    TStopSignals::BlockStopSignals();
    TBridgeApplication application(argc, argv);
    TForm1 form(SettingsFilePath(QCoreApplication::applicationFilePath().toStdString()));
    // A logout or a service stop closes the window as "Выход" does, so the settings are kept.
    const TStopSignals stopSignals([&form] { form.close(); });
    form.show();
    return QApplication::exec();
}
