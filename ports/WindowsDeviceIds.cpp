#include "WindowsDeviceIds.h"

#include <algorithm>
#include <cctype>

#include "AsciiCase.h"
#include "PortMap.h"

namespace {

// The four hexadecimal digits after the tag ("vid_", in any case in the id), in lower case; empty
// when there are none.
std::string HexAfter(std::string_view id, std::string_view tag) {
    const std::string lower = LowerAscii(std::string(id));
    const size_t at = lower.find(tag);
    if (at == std::string::npos || at + tag.size() + 4 > lower.size()) {
        return {};
    }
    std::string digits = lower.substr(at + tag.size(), 4);
    const bool hex = std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    return hex ? digits : std::string();
}

}  // namespace

TUsbIds ParseWindowsDeviceIds(std::string_view hardwareId, std::string_view instanceId) {
    TUsbIds ids{HexAfter(hardwareId, "vid_"), HexAfter(hardwareId, "pid_"), {}};
    const size_t first = instanceId.find('\\');
    const size_t last = instanceId.rfind('\\');
    if (first == std::string_view::npos || first == last) {
        return ids;
    }
    const std::string enumerator = LowerAscii(std::string(instanceId.substr(0, first)));
    const std::string device =
        LowerAscii(std::string(instanceId.substr(first + 1, last - first - 1)));
    const std::string_view serial = instanceId.substr(last + 1);
    if (enumerator == "usb" && device.find("vid_") != std::string::npos &&
        device.find("&mi_") == std::string::npos && !serial.empty() &&
        serial.find('&') == std::string_view::npos) {
        ids.SerialNumber = std::string(serial);
    }
    return ids;
}

std::string WindowsComPath(int number) {
    return "\\\\.\\COM" + std::to_string(number);
}

TPortTarget WindowsPortTarget(const std::string& value) {
    std::string_view name = value;
    if (name.starts_with("\\\\.\\")) {
        name.remove_prefix(4);
    }
    int number = 0;
    if (ParsePortName(name, number)) {
        return {WindowsComPath(number), TTargetKind::NotListed};
    }
    return {value, TTargetKind::NotListed};
}
