#include "SettingsPath.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

std::string SettingsFilePath(const std::string& programPath) {
    const QFileInfo program(QString::fromStdString(programPath));
    const QString fileName = program.completeBaseName() + QStringLiteral(".ini");
    const QString beside = program.absoluteDir().filePath(fileName);
    // An installed copy keeps its settings per user, even when root could write beside it.
    const bool installed = program.absolutePath().startsWith(QStringLiteral("/usr/"));
    if (QFileInfo::exists(beside) ||
        (!installed && QFileInfo(program.absolutePath()).isWritable())) {
        return beside.toStdString();
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return QDir(folder).filePath(fileName).toStdString();
}
