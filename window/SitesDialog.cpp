#include "SitesDialog.h"

#include <algorithm>

#include "AccessCheck.h"
#include "AsciiCase.h"
#include "Blanks.h"
#include "LocalTime.h"
#include "LogLine.h"

namespace {

constexpr std::string_view kNullRefused =
    "null нельзя разрешить: его посылают страницы, открытые как файл, и изолированный фрейм "
    "любого сайта";

std::string NotAnOrigin(std::string_view typed) {
    return "«" + std::string(typed) +
           "» — не адрес сайта: нужны https:// или http://, имя и порт, если он не стандартный, "
           "без пути (https://scada.example, http://192.168.1.10:8080)";
}

bool IsPortNumber(std::string_view port) {
    if (port.empty() || port.size() > 5 || port.front() == '0' ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    return std::stoi(std::string(port)) <= 65535;
}

std::string ModeNote(TOriginMode mode) {
    switch (mode) {
        case TOriginMode::List:
            return "Настройка Origins=list: о новых сайтах мост не спрашивает, сайт не из списка "
                   "получает отказ 125";
        case TOriginMode::Any:
            return "Настройка Origins=any: все сайты, кроме null, обслуживаются, что бы ни "
                   "говорил список";
        case TOriginMode::Ask:
            break;
    }
    return {};
}

}  // namespace

std::string TypedOrigin(std::string_view typed, std::string& problem) {
    const std::string text = LowerAscii(std::string(TrimBlanks(typed)));
    if (text == "null") {
        problem = kNullRefused;
        return {};
    }
    std::string_view rest = text;
    std::string_view scheme;
    for (const std::string_view known : {"https", "http"}) {
        if (rest.starts_with(known) && rest.substr(known.size()).starts_with("://")) {
            scheme = known;
            rest.remove_prefix(known.size() + 3);
            break;
        }
    }
    if (rest.ends_with('/')) {
        rest.remove_suffix(1);
    }
    std::string_view host = rest;
    std::optional<std::string_view> port;
    const size_t hostEnd = rest.starts_with('[') ? rest.find(']') : 0;
    if (hostEnd == std::string_view::npos) {
        problem = NotAnOrigin(typed);
        return {};
    }
    if (const size_t colon = rest.find(':', hostEnd); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    } else if (hostEnd > 0 && hostEnd + 1 != rest.size()) {
        problem = NotAnOrigin(typed);
        return {};
    }
    if (scheme.empty() || host.empty() || host == "[]" || (port && !IsPortNumber(*port))) {
        problem = NotAnOrigin(typed);
        return {};
    }
    std::string origin = std::string(scheme) + "://" + std::string(host);
    // Browsers leave the scheme's own port out of the origin they send.
    if (port && *port != (scheme == "https" ? "443" : "80")) {
        origin += ":" + std::string(*port);
    }
    if (!PlausibleOrigin(origin)) {
        problem = NotAnOrigin(typed);
        return {};
    }
    return origin;
}

std::string SiteStateText(TOriginMode mode, const TKnownOrigin& origin) {
    if (mode == TOriginMode::Any && origin.Origin != "null") {
        return "разрешён (Origins=any)";
    }
    if (origin.Allowed) {
        return *origin.Allowed ? "разрешён" : "запрещён";
    }
    if (mode == TOriginMode::Ask && PlausibleOrigin(origin.Origin)) {
        return "ждёт ответа";
    }
    return "не в списке: запрещён";
}

std::string TSitesDialog::LocalTimeText(uint64_t agoMs) {
    return FormatDateLine(LocalTimeBefore(agoMs));
}

void TSitesDialog::Attach(TSitesView* view) {
    View = view;
    if (View != nullptr) {
        Refresh();
        Show(ModeNote(Keeper.OriginMode()), false);
    }
}

void TSitesDialog::Refresh() {
    const TOriginMode mode = Keeper.OriginMode();
    Rows_.clear();
    for (const TKnownOrigin& origin : Keeper.KnownOrigins()) {
        Rows_.push_back({origin.Origin, SiteStateText(mode, origin),
                         origin.SinceLastRequestMs ? TimeText(*origin.SinceLastRequestMs) : "—",
                         std::to_string(origin.Requests)});
    }
    if (View != nullptr) {
        View->ShowSites(Rows_);
    }
}

void TSitesDialog::Add(const std::string& typed) {
    std::string problem;
    const std::string origin = TypedOrigin(typed, problem);
    if (origin.empty()) {
        Show(problem, true);
        return;
    }
    Change(origin, true);
    const bool inTable = std::any_of(Rows_.begin(), Rows_.end(), [&origin](const TSiteRow& row) {
        return row.Origin == origin;
    });
    if (inTable && View != nullptr) {
        View->ClearTypedOrigin();
    }
}

void TSitesDialog::Change(const std::string& origin, std::optional<bool> allowed) {
    if (origin.empty()) {
        Show("Выберите сайт в таблице", true);
        return;
    }
    // Only the operator's own hand in the settings file may let "null" in.
    if (allowed == true && !PlausibleOrigin(origin)) {
        Show(origin == "null" ? std::string(kNullRefused) : NotAnOrigin(origin), true);
        return;
    }
    std::string problem;
    const bool done = Keeper.ChangeOrigin(origin, allowed, problem);
    Refresh();
    std::string text = origin + (!allowed ? " забыт" : *allowed ? " разрешён" : " запрещён");
    if (!done) {
        Show(text + ", но " + problem, true);
    } else if (!allowed) {
        Show(text + ": строка убрана из [Origins], действует со следующего запроса", false);
    } else {
        Show(text + ": записано в [Origins], действует со следующего запроса", false);
    }
}

void TSitesDialog::Show(const std::string& text, bool error) {
    if (View != nullptr) {
        View->ShowSitesMessage(text, error);
    }
}
