#pragma once

#include <QApplication>

// The application object: an exception that escapes an event handler is shown by the general
// error report, and the program goes on.
class TBridgeApplication : public QApplication {
public:
    TBridgeApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;
};
