#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "LocalTime.h"

// The kinds of lines in the event log; each has its own writer, colours and prefix.
enum class TLogKind { Date, Info, Error, Notice, Send, Receive };

// How a kind of line looks: text colour, font styles and background, colours as 0xRRGGBB.
struct TLogStyle {
    uint32_t Text;
    bool Bold;
    bool Italic;
    bool Underline;
    bool StrikeOut;
    uint32_t Background;
};

const TLogStyle& LogStyle(TLogKind kind);

// What text appended after a line starts with: black, no style, white background.
inline constexpr TLogStyle kDefaultLogStyle = {0x000000, false, false, false, false, 0xFFFFFF};

// ">> " for a request sent, "<< " for an answer received, nothing for the other kinds.
std::string_view LogPrefix(TLogKind kind);

// "HH:MM:SS.mmm"
std::string FormatTimeStamp(const TLocalTime& time);

// "DD-MM-YYYY HH:MM:SS", the line that marks the start and each save of the log.
std::string FormatDateLine(const TLocalTime& time);

// A line as the plain-text log holds it, without its line end: the time stamp, a TAB, the
// prefix and the text unchanged; for the date kind, the date line.
std::string FormatLogLine(TLogKind kind, const TLocalTime& time, std::string_view text);

// The fixed texts of the log.
namespace LogText {
inline constexpr std::string_view kCaption = "RAVO Duridur - Modbus демонстрационный мост";
inline constexpr std::string_view kStart = "Старт";
inline constexpr std::string_view kSeparator = "------------------------------------------------";
inline constexpr std::string_view kViewErrorLine = "Показывать Только ошибки: ";
inline constexpr std::string_view kViewSetLine = "Показывать Параметры связи: ";
// The Н, Е and Х here are Cyrillic letters.
inline constexpr std::string_view kViewHexLine = "Показывать НЕХ данные: ";
inline constexpr std::string_view kOn = "Включено";
inline constexpr std::string_view kOff = "Отключено";
}  // namespace LogText

// "Показывать ...: Включено" or "...: Отключено".
std::string ViewOptionLine(std::string_view line, bool on);
