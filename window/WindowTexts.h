#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The fixed texts of the main window, the same in every toolkit's window (UTF-8). The caption is
// the log's (LogText::kCaption), which the start lines write too.
namespace WindowText {
inline constexpr std::string_view kMenuFile = "Файл";
inline constexpr std::string_view kMenuSave = "Сохранить";
inline constexpr std::string_view kMenuExit = "Выход";
inline constexpr std::string_view kMenuView = "Вид";
inline constexpr std::string_view kMenuViewError = "Только ошибки";
inline constexpr std::string_view kMenuViewSet = "Параметры связи";
// Latin H, E and X here, unlike the log line of this option.
inline constexpr std::string_view kMenuViewHex = "HEX данные";
inline constexpr std::string_view kMenuHelp = "?";
// In "Файл" and in the tray icon's menu.
inline constexpr std::string_view kMenuStartAtLogin = "Запускать при входе в систему";

// The tray icon: its name (the tooltip's first words, the notifications' title) and its menu.
inline constexpr std::string_view kTrayName = "Modbus мост";
inline constexpr std::string_view kTrayShowWindow = "Показать окно";

inline constexpr std::string_view kAboutCaption = "О программе";
inline constexpr std::string_view kAboutText =
    "RAVO Duridur - Modbus демонстрационный мост\n"
    "V1.1 Февраль 2018\n"
    "\n"
    "\n"
    "https://modbus-bridge.example";

// The caption of the general error report's box.
inline constexpr std::string_view kErrorReportCaption = "modbus-bridge";

// The save dialog's two choices, RTF first: a caption and its pattern each.
inline constexpr std::string_view kSaveRtfCaption = "Текстовый файл RTF";
inline constexpr std::string_view kSaveRtfPattern = "*.rtf";
inline constexpr std::string_view kSaveTextCaption = "Текстовый файл TXT";
inline constexpr std::string_view kSaveTextPattern = "*.txt";
inline constexpr std::string_view kSaveDefaultExtension = "rtf";

// The question bar's buttons, their access letters marked as both toolkits mark them: Alt+Р and
// Alt+З, the first letters. These work in a Cyrillic keyboard layout; in a Latin one Tab reaches
// the buttons. The keys where a Cyrillic layout has them (H and P) are not taken: the Р looks
// like a Latin P, whose key is the Cyrillic З, and a misread letter would give the other answer.
inline constexpr std::string_view kOriginAllow = "&Разрешить";
inline constexpr std::string_view kOriginDeny = "&Запретить";
}  // namespace WindowText

// "Разрешить странице <origin> управлять устройствами через мост?"
std::string OriginQuestionText(std::string_view origin);

// The notification about a new page's question while the window is out of sight.
std::string OriginNotificationText(std::string_view origin);

// The line above the log once the log has dropped its oldest lines: how many went, and the folder
// of the daily files that still hold them (empty: none are kept).
std::string DroppedLinesNotice(uint64_t dropped, std::string_view dailyFilesFolder);
