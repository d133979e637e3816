#include "AccessSettings.h"

#include <string_view>

#include "AsciiCase.h"
#include "Blanks.h"
#include "IniFile.h"
#include "PortMap.h"

namespace {

constexpr char kServer[] = "Server";

std::vector<std::string> CommaList(std::string_view text) {
    std::vector<std::string> items;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = TrimBlanks(text.substr(0, comma));
        if (!item.empty()) {
            items.push_back(LowerAscii(std::string(item)));
        }
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    }
    return items;
}

// The value of a key that takes one of a few words; a value that is none of them is a problem,
// and the safe word stands in for it.
std::string Choice(const TIniFile& settings, std::string_view key, std::string_view fallback,
                   std::initializer_list<std::string_view> words, std::string_view safe,
                   std::vector<std::string>& problems) {
    const std::string value =
        LowerAscii(std::string(TrimBlanks(settings.ReadString(kServer, key, fallback))));
    for (const std::string_view word : words) {
        if (value == word) {
            return value;
        }
    }
    problems.push_back("Настройка " + std::string(key) + "=" + value + " не понята, принято " +
                       std::string(key) + "=" + std::string(safe));
    return std::string(safe);
}

}  // namespace

std::map<std::string, bool> ReadOriginDecisions(const TIniFile& settings,
                                                std::vector<std::string>& problems) {
    std::map<std::string, bool> decisions;
    for (const std::string& origin : settings.Keys(kOriginsSection)) {
        int32_t allowed = 0;
        const std::string value = settings.ReadString(kOriginsSection, origin, "");
        if (!ParseSettingsInteger(value, allowed)) {
            problems.push_back("Настройка " + origin + "=" + value +
                               " в разделе Origins не понята, источник запрещён");
        }
        decisions[LowerAscii(origin)] = allowed == 1;
    }
    return decisions;
}

size_t AllowedOriginCount(const std::map<std::string, bool>& decisions) {
    size_t allowed = 0;
    for (const auto& [origin, isAllowed] : decisions) {
        allowed += isAllowed ? 1 : 0;
    }
    return allowed;
}

TAccessSettings ReadAccessSettings(const TIniFile& settings) {
    TAccessSettings access;
    const std::string listen =
        Choice(settings, "Listen", "loopback", {"loopback", "any"}, "loopback", access.Problems);
    access.Listen = listen == "any" ? TListenScope::Any : TListenScope::Loopback;
    access.AllowedHosts = CommaList(settings.ReadString(kServer, "AllowedHosts", ""));

    const std::string origins =
        Choice(settings, "Origins", "ask", {"any", "list", "ask"}, "list", access.Problems);
    access.Origins = origins == "any"    ? TOriginMode::Any
                     : origins == "list" ? TOriginMode::List
                                         : TOriginMode::Ask;
    access.OriginDecisions = ReadOriginDecisions(settings, access.Problems);

    access.Key = settings.ReadString(kServer, "Key", "");

    const std::string unmapped =
        Choice(settings, "UnmappedPorts", "allow", {"allow", "deny"}, "deny", access.Problems);
    access.Ports.DenyUnmapped = unmapped == "deny";
    for (const int port : MappedPorts(settings)) {
        access.Ports.Mapped.set(static_cast<size_t>(port));
    }
    for (const std::string& name : CommaList(settings.ReadString(kServer, "ReadOnlyPorts", ""))) {
        int port = 0;
        if (ParsePortName(name, port)) {
            access.Ports.ReadOnly.set(static_cast<size_t>(port));
        } else {
            access.Problems.push_back("Настройка ReadOnlyPorts: \"" + name +
                                      "\" не номер порта COM1 - COM255");
        }
    }
    return access;
}

std::vector<std::string> AccessRisks(const TAccessSettings& settings) {
    std::vector<std::string> risks;
    if (settings.Origins == TOriginMode::Any) {
        risks.push_back(
            "Настройка Origins=any: любой сайт, открытый в браузере на этом компьютере, может "
            "управлять устройствами через мост");
    }
    const auto null = settings.OriginDecisions.find("null");
    if (null != settings.OriginDecisions.end() && null->second) {
        risks.push_back(
            "Настройка null=1 в разделе Origins: любой сайт, открытый в браузере на этом "
            "компьютере, может управлять устройствами через мост из изолированного фрейма "
            "(sandbox), который посылает Origin: null");
    }
    return risks;
}
