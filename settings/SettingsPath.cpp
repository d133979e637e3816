#include "SettingsPath.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

std::string SettingsFilePath(const std::string& programPath) {
    const QFileInfo program(QString::fromStdString(programPath));
    const QString fileName = program.completeBaseName() + QStringLiteral(".ini");
    const QString beside = program.absoluteDir().filePath(fileName);
    if (QFileInfo::exists(beside) || QFileInfo(program.absolutePath()).isWritable()) {
        return beside.toStdString();
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return QDir(folder).filePath(fileName).toStdString();
}
