#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "SettingsPath.h"

namespace {

// A portable copy keeps its files beside itself. An installed copy keeps them per user, even
// when root could write beside it.
bool Portable(const QFileInfo& program) {
    const bool installed = program.absolutePath().startsWith(QStringLiteral("/usr/"));
    return !installed && QFileInfo(program.absolutePath()).isWritable();
}

}  // namespace

std::string SettingsFilePath(const std::string& programPath) {
    const QFileInfo program(QString::fromStdString(programPath));
    const QString fileName = program.completeBaseName() + QStringLiteral(".ini");
    const QString beside = program.absoluteDir().filePath(fileName);
    if (QFileInfo::exists(beside) || Portable(program)) {
        return beside.toStdString();
    }
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return QDir(folder).filePath(fileName).toStdString();
}

std::string SaveFolderPath(const std::string& programPath) {
    const QFileInfo program(QString::fromStdString(programPath));
    if (Portable(program)) {
        return program.absoluteDir().filePath(QStringLiteral("save")).toStdString();
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(documents).filePath(QStringLiteral("modbus-bridge")).toStdString();
}
