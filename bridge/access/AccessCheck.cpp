#include "AccessCheck.h"

#include <algorithm>
#include <charconv>

#include "AddressText.h"
#include "AsciiCase.h"
#include "Cp1251.h"
#include "HttpHeaders.h"
#include "RequestErrors.h"
#include "UriCodec.h"

namespace {

constexpr size_t kLoggedTextBytes = 100;

bool PortMatches(std::string_view text, uint16_t port) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && text.front() != '0' && error == std::errc{} &&
           end == text.data() + text.size() && value == port;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool NameAllowed(const std::string& name, bool bracketed, const TAccessSettings& settings,
                 const TLocalNames& local) {
    if (bracketed) {
        return name == "::1" || (settings.Listen == TListenScope::Any && IsCanonicalIpv6(name) &&
                                 Contains(local.Addresses, name));
    }
    if (name == "localhost" || name == "127.0.0.1" || Contains(settings.AllowedHosts, name) ||
        (!local.HostName.empty() && name == LowerAscii(local.HostName))) {
        return true;
    }
    return settings.Listen == TListenScope::Any && IsCanonicalIpv4(name) &&
           Contains(local.Addresses, name);
}

TRefusal OriginRefusal(const std::string& origin, const TAccessSettings& settings,
                       const TLocalNames& local) {
    if (OwnOrigin(origin, settings, local)) {
        return TRefusal::None;
    }
    const auto decision = settings.OriginDecisions.find(LowerAscii(origin));
    const bool listed = decision != settings.OriginDecisions.end();
    // Any web site can send "null" from a sandboxed frame: only null=1 written by hand lets it in.
    if (settings.Origins == TOriginMode::Any && LowerAscii(origin) != "null") {
        return TRefusal::None;
    }
    if (listed) {
        return decision->second ? TRefusal::None : TRefusal::OriginNotAllowed;
    }
    return settings.Origins == TOriginMode::Ask && PlausibleOrigin(origin)
               ? TRefusal::OriginUnanswered
               : TRefusal::OriginUnlisted;
}

TRefusal KeyRefusal(const THttpRequest& request, const std::string& key) {
    if (key.empty()) {
        return TRefusal::None;
    }
    std::string_view body = request.Body();
    body = body.substr(0, body.find('\0'));
    const TFormField field = FormFieldBeforeJsonData(body, "key");
    if (!field.Found) {
        return TRefusal::KeyMissing;
    }
    return KeysMatch(key, UriDecode(field.Value)) ? TRefusal::None : TRefusal::KeyWrong;
}

}  // namespace

std::string ShownRequestText(std::string_view text) {
    std::string shown = AsUtf8(text.substr(0, 4 * kLoggedTextBytes));
    if (shown.size() > kLoggedTextBytes) {
        size_t cut = kLoggedTextBytes;
        // Cut before a character, not inside one.
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        shown.resize(cut);
        shown += "...";
    }
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return shown;
}

bool HostAllowed(std::string_view host, const TAccessSettings& settings, const TLocalNames& local) {
    std::string_view name = host;
    std::string_view port;
    bool hasPort = false;
    const bool bracketed = host.starts_with('[');
    if (bracketed) {
        const size_t close = host.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        name = host.substr(1, close - 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return false;
            }
            hasPort = true;
            port = rest.substr(1);
        }
    } else if (const size_t colon = host.find(':'); colon != std::string_view::npos) {
        name = host.substr(0, colon);
        hasPort = true;
        port = host.substr(colon + 1);
    }
    if (hasPort && !PortMatches(port, local.Port)) {
        return false;
    }
    return NameAllowed(LowerAscii(std::string(name)), bracketed, settings, local);
}

TAccessVerdict CheckHost(const THttpRequest& request, const TAccessSettings& settings,
                         const TLocalNames& local) {
    TAccessVerdict verdict;
    const std::vector<std::string_view> hosts = HeaderValues(request.HeaderBlock(), "Host");
    const std::vector<std::string_view> origins = HeaderValues(request.HeaderBlock(), "Origin");
    verdict.HasHost = !hosts.empty();
    verdict.Host = verdict.HasHost ? std::string(hosts.front()) : std::string();
    verdict.HasOrigin = !origins.empty();
    verdict.Origin = verdict.HasOrigin ? std::string(origins.front()) : std::string();
    if (hosts.size() > 1) {
        verdict.Refusal = TRefusal::HostRepeated;
    } else if (verdict.HasHost && !HostAllowed(verdict.Host, settings, local)) {
        verdict.Refusal = TRefusal::HostNotAllowed;
    }
    return verdict;
}

TAccessVerdict CheckAccess(const THttpRequest& request, const TAccessSettings& settings,
                           const TLocalNames& local) {
    TAccessVerdict verdict = CheckHost(request, settings, local);
    if (verdict.Refusal != TRefusal::None) {
        return verdict;
    }
    const std::vector<std::string_view> modes =
        HeaderValues(request.HeaderBlock(), "Sec-Fetch-Mode");
    if (std::any_of(modes.begin(), modes.end(), [](std::string_view mode) {
            return mode != "cors" && mode != "same-origin";
        })) {
        verdict.Refusal = TRefusal::Navigation;
    } else if (HeaderValues(request.HeaderBlock(), "Origin").size() > 1) {
        verdict.Refusal = TRefusal::OriginRepeated;
    } else if (verdict.HasOrigin) {
        verdict.Refusal = OriginRefusal(verdict.Origin, settings, local);
    }
    if (verdict.Refusal == TRefusal::None) {
        verdict.Refusal = KeyRefusal(request, settings.Key);
    }
    return verdict;
}

bool OwnOrigin(std::string_view origin, const TAccessSettings& settings, const TLocalNames& local) {
    constexpr std::string_view kScheme = "http://";
    if (!origin.starts_with(kScheme)) {
        return false;
    }
    const std::string_view host = origin.substr(kScheme.size());
    // The port belongs to the origin: without one it is port 80's, another server's.
    const size_t nameEnd = host.starts_with('[') ? host.find(']') : 0;
    return nameEnd != std::string_view::npos && host.find(':', nameEnd) != std::string_view::npos &&
           HostAllowed(host, settings, local);
}

bool PlausibleOrigin(std::string_view origin) {
    std::string_view rest;
    if (origin.starts_with("http://")) {
        rest = origin.substr(7);
    } else if (origin.starts_with("https://")) {
        rest = origin.substr(8);
    } else {
        return false;
    }
    return !rest.empty() && rest.size() <= 255 && std::all_of(rest.begin(), rest.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
               c == ':' || c == '[' || c == ']';
    });
}

bool KeysMatch(std::string_view expected, std::string_view given) {
    unsigned difference = expected.size() == given.size() ? 0U : 1U;
    for (size_t index = 0; index < expected.size(); ++index) {
        const char other = index < given.size() ? given[index] : '\0';
        difference |= static_cast<unsigned char>(expected[index] ^ other);
    }
    return difference == 0;
}

std::string RefusalReason(TRefusal refusal) {
    switch (refusal) {
        case TRefusal::None:
            return "разрешён";
        case TRefusal::HostRepeated:
            return "два заголовка Host";
        case TRefusal::HostNotAllowed:
            return "Host не называет этот компьютер";
        case TRefusal::Navigation:
            return "переход страницы или no-cors (Sec-Fetch-Mode)";
        case TRefusal::OriginRepeated:
            return "два заголовка Origin";
        case TRefusal::OriginNotAllowed:
        case TRefusal::OriginUnlisted:
            return "страница не разрешена";
        case TRefusal::OriginUnanswered:
            return "страница ждёт ответа оператора";
        case TRefusal::KeyMissing:
            return "нет ключа доступа";
        case TRefusal::KeyWrong:
            return "неверный ключ доступа";
    }
    return {};
}

std::string RefusalLine(uint8_t code, std::string_view reason, std::string_view peer,
                        const TAccessVerdict& verdict) {
    return "Error[" + std::to_string(code) + "] - " + ErrorText(code) + ": " + std::string(reason) +
           " (адрес " + std::string(peer) +
           ", Host: " + (verdict.HasHost ? ShownRequestText(verdict.Host) : "-") +
           ", Origin: " + (verdict.HasOrigin ? ShownRequestText(verdict.Origin) : "-") + ")";
}
