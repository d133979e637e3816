#include "ErrorReport.h"

#include <QMessageBox>
#include <cstdio>

void ShowErrorReport(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("modbus-bridge"), text, QMessageBox::Ok);
    box.exec();
}

void PrintErrorReport(const QString& text) {
    std::fprintf(stderr, "modbus-bridge: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}
