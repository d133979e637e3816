#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

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
    // The program's own folder in the configuration folder, known without Qt's application
    // object, so that --help names the file before anything starts.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(folder)
        .filePath(program.completeBaseName() + QStringLiteral("/") + fileName)
        .toStdString();
}

std::string SaveFolderPath(const std::string& programPath) {
    const QFileInfo program(QString::fromStdString(programPath));
    if (Portable(program)) {
        return program.absoluteDir().filePath(QStringLiteral("save")).toStdString();
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(documents).filePath(QStringLiteral("modbus-bridge")).toStdString();
}

std::string ProgramFilePath() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}
