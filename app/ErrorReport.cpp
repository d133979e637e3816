#include "ErrorReport.h"

#include <QMessageBox>

void ShowErrorReport(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("modbus-bridge"), text, QMessageBox::Ok);
    box.exec();
}
