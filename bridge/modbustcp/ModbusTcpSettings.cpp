#include "ModbusTcpSettings.h"

#include "IniFile.h"

namespace {

constexpr char kSection[] = "ModbusTcp";

std::string ProblemLine(const char* key, const std::string& text, const std::string& instead) {
    return "Настройка " + std::string(key) + "=" + text + " в [" + kSection + "] не понята, " +
           instead;
}

// The key's value within its bounds; otherwise a problem line, and the default.
int32_t BoundedInteger(const TIniFile& settings, const char* key, int32_t fallback, int32_t lowest,
                       int32_t highest, std::vector<std::string>& problems) {
    const std::string text = settings.ReadString(kSection, key, std::to_string(fallback));
    int32_t value = 0;
    if (ParseSettingsInteger(text, value) && value >= lowest && value <= highest) {
        return value;
    }
    problems.push_back(
        ProblemLine(key, text, "принято " + std::string(key) + "=" + std::to_string(fallback)));
    return fallback;
}

}  // namespace

TModbusTcpSettings ReadModbusTcpSettings(const TIniFile& settings,
                                         std::vector<std::string>& problems) {
    TModbusTcpSettings tcp;
    if (!settings.HasValue(kSection, "Port")) {
        return tcp;
    }
    const std::string portText = settings.ReadString(kSection, "Port", "");
    int32_t port = 0;
    if (!ParseSettingsInteger(portText, port) || port < 1 || port > 65535) {
        problems.push_back(ProblemLine("Port", portText, "Modbus TCP выключен"));
        return tcp;
    }
    tcp.Port = static_cast<uint16_t>(port);
    tcp.Com = static_cast<uint8_t>(BoundedInteger(settings, "COM", tcp.Com, 1, 255, problems));
    tcp.Baud =
        BoundedInteger(settings, "Baud", tcp.Baud, 1, TModbusTcpSettings::kHighestBaud, problems);
    tcp.TimeoutMs = BoundedInteger(settings, "TimeoutMs", tcp.TimeoutMs, 1,
                                   TModbusTcpSettings::kLongestTimeoutMs, problems);
    tcp.CtrlEcho = BoundedInteger(settings, "CtrlEcho", 0, 0, 1, problems) != 0;
    tcp.CtrlDtr = BoundedInteger(settings, "CtrlDtr", 0, 0, 1, problems) != 0;
    tcp.CtrlRts = BoundedInteger(settings, "CtrlRts", 0, 0, 1, problems) != 0;
    tcp.CtrlInvert = BoundedInteger(settings, "CtrlInvert", 0, 0, 1, problems) != 0;
    return tcp;
}
