#include "ErrorReport.h"

#include <QMessageBox>
#include <cstdio>

void ShowErrorReport(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("modbus-bridge"), text, QMessageBox::Ok);
    box.exec();
}

void ShowModelessErrorReport(QWidget* parent, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("modbus-bridge"), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void PrintErrorReport(const QString& text) {
    std::fprintf(stderr, "modbus-bridge: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}
