#pragma once

#include <array>
#include <string_view>

// The fixed texts of the sites and ports dialogs and of their menu, the same in every toolkit's
// window (UTF-8). Access letters are marked as both toolkits mark them.
namespace DialogText {
inline constexpr std::string_view kMenuService = "Сервис";
inline constexpr std::string_view kMenuSites = "Сайты…";
inline constexpr std::string_view kMenuPorts = "Порты…";

inline constexpr std::string_view kSitesCaption = "Сайты";
inline constexpr std::string_view kSitesNote =
    "Сайты, чьи страницы обращались к мосту с его запуска, и сайты раздела [Origins] файла "
    "настроек. Изменение действует со следующего запроса страницы и сразу записывается в файл.";
inline constexpr std::array<std::string_view, 4> kSiteColumns = {"Сайт", "Состояние",
                                                                 "Последний запрос", "Запросов"};
inline constexpr std::string_view kTypedOriginLabel = "Новый сайт:";
inline constexpr std::string_view kTypedOriginHint = "https://имя или http://имя:порт";
inline constexpr std::string_view kAdd = "&Добавить";
inline constexpr std::string_view kAllow = "&Разрешить";
inline constexpr std::string_view kRefuse = "&Запретить";
inline constexpr std::string_view kForget = "За&быть";
inline constexpr std::string_view kRefresh = "&Обновить";
inline constexpr std::string_view kClose = "Закрыть";

inline constexpr std::string_view kPortsCaption = "Порты";
inline constexpr std::string_view kPortsNote =
    "Последовательные порты этого компьютера и номера COM, которые их открывают (раздел [Ports] "
    "файла настроек).";
// Only where adapters have stable paths (Linux).
inline constexpr std::string_view kPinNote =
    "«Закрепить» пишет в [Ports] постоянный путь выбранного адаптера (/dev/serial/by-id/…) для "
    "номера COM: адаптер сохранит номер в любом гнезде USB. Действует со следующего запроса.";
inline constexpr std::string_view kPinNumberLabel = "Номер COM:";
inline constexpr std::string_view kPin = "&Закрепить";
}  // namespace DialogText
