#include "LogSave.h"

#include <fstream>

#include "LogFile.h"
#include "Utf8Path.h"

TLogFileFormat LogFileFormatFor(std::string_view path) {
    return path.ends_with("rtf") ? TLogFileFormat::Rtf : TLogFileFormat::Text;
}

bool SaveLogFile(const TLogModel& log, const std::string& path) {
    // A wide path on Windows, so that any folder name works.
    std::ofstream file(Utf8Path(path), std::ios::binary | std::ios::trunc);
    if (!file) {
        return false;
    }
    if (LogFileFormatFor(path) == TLogFileFormat::Rtf) {
        WriteLogRtf(log, file);
    } else {
        WriteLogText(log, file);
    }
    file.close();
    return !file.fail();
}
