#include "LogLine.h"

#include <cstdio>

std::string_view LogPrefix(TLogKind kind) {
    switch (kind) {
        case TLogKind::Send:
            return ">> ";
        case TLogKind::Receive:
            return "<< ";
        default:
            return {};
    }
}

std::string FormatTimeStamp(const TLocalTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", time.Hour, time.Minute, time.Second,
                  time.Millisecond);
    return text;
}

std::string FormatDateLine(const TLocalTime& time) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d:%02d", time.Day, time.Month,
                  time.Year, time.Hour, time.Minute, time.Second);
    return text;
}

std::string FormatLogLine(TLogKind kind, const TLocalTime& time, std::string_view text) {
    if (kind == TLogKind::Date) {
        return FormatDateLine(time);
    }
    std::string line = FormatTimeStamp(time);
    line.push_back('\t');
    line.append(LogPrefix(kind));
    line.append(text);
    return line;
}

std::string ViewOptionLine(std::string_view line, bool on) {
    std::string text(line);
    text.append(on ? LogText::kOn : LogText::kOff);
    return text;
}
