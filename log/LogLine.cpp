#include "LogLine.h"

#include <cstdio>

const TLogStyle& LogStyle(TLogKind kind) {
    static constexpr TLogStyle kDate = {0xFFFFFF, false, false, true, false, 0x000000};
    static constexpr TLogStyle kInfo = {0x808080, false, true, false, false, 0xFFFFFF};
    static constexpr TLogStyle kError = {0xFFFFFF, true, false, false, false, 0xFF0000};
    static constexpr TLogStyle kNotice = {0x0000FF, true, false, false, false, 0xA6CAF0};
    static constexpr TLogStyle kSend = {0x008000, false, false, false, false, 0xFFFFFF};
    static constexpr TLogStyle kReceive = {0x0000FF, false, false, false, false, 0xFFFFFF};
    switch (kind) {
        case TLogKind::Date:
            return kDate;
        case TLogKind::Info:
            return kInfo;
        case TLogKind::Error:
            return kError;
        case TLogKind::Notice:
            return kNotice;
        case TLogKind::Send:
            return kSend;
        case TLogKind::Receive:
            return kReceive;
    }
    return kInfo;
}

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
