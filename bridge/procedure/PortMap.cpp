#include "PortMap.h"

#include <charconv>

#include "AsciiCase.h"
#include "Comp32.h"
#include "IniFile.h"

namespace {

constexpr std::string_view kSection = "Ports";

}  // namespace

bool ParsePortName(std::string_view key, int& number) {
    if (key.size() < 4 || !StartsWithIgnoringAsciiCase(key, "COM")) {
        return false;
    }
    key.remove_prefix(3);
    const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), number);
    return error == std::errc{} && end == key.data() + key.size() && number >= 1 && number <= 255;
}

void ApplyPortMap(const TIniFile& settings, TComp32& port) {
    for (const std::string& key : settings.Keys(kSection)) {
        int number = 0;
        const std::string path = settings.ReadString(kSection, key, "");
        if (ParsePortName(key, number) && !path.empty()) {
            port.MapPort(static_cast<uint8_t>(number), path);
        }
    }
}

std::vector<int> MappedPorts(const TIniFile& settings) {
    std::vector<int> numbers;
    for (const std::string& key : settings.Keys(kSection)) {
        int number = 0;
        if (ParsePortName(key, number) && !settings.ReadString(kSection, key, "").empty()) {
            numbers.push_back(number);
        }
    }
    return numbers;
}
