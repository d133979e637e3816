#pragma once

#include <string>
#include <string_view>

#include "LogModel.h"

enum class TLogFileFormat { Rtf, Text };

// RTF when the path's last three characters are exactly "rtf" (lower case, byte for byte: "x.RTF"
// is text, "xrtf" is RTF); plain text otherwise.
TLogFileFormat LogFileFormatFor(std::string_view path);

// Writes the whole log to the file at the UTF-8 path, replacing what it held, in the format its
// name chooses: the same bytes on every platform for the same lines. False when the file cannot
// be created or written.
bool SaveLogFile(const TLogModel& log, const std::string& path);
