#include <windows.h>
// The device installation API needs windows.h first.
#include <setupapi.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "AsciiCase.h"
#include "PortMap.h"
#include "SerialPorts.h"
#include "Win32Text.h"
#include "WindowsDeviceIds.h"

namespace {

// The device setup class of serial and parallel ports.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A text property of the device; for a list of texts (REG_MULTI_SZ), the first.
std::string TextProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD type = 0;
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type, nullptr, 0, &size);
    if (size == 0 || (type != REG_SZ && type != REG_MULTI_SZ)) {
        return {};
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                           reinterpret_cast<BYTE*>(text.data()), size, nullptr)) {
        return {};
    }
    return Utf8FromWide(text.data());
}

std::string InstanceId(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    DWORD size = 0;
    SetupDiGetDeviceInstanceIdW(devices, &device, nullptr, 0, &size);
    std::vector<wchar_t> text(size + 1, L'\0');
    if (size == 0 ||
        !SetupDiGetDeviceInstanceIdW(devices, &device, text.data(), size + 1, nullptr)) {
        return {};
    }
    return Utf8FromWide(text.data());
}

// The COM name the port's driver took ("COM5"), from the device's own settings; none for a
// printer port or a device without one.
std::optional<int> PortNumber(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key =
        SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    wchar_t name[32] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    int number = 0;
    if (read != ERROR_SUCCESS || type != REG_SZ || !ParsePortName(Utf8FromWide(name), number)) {
        return std::nullopt;
    }
    return number;
}

TSerialKind KindOf(const std::string& instanceId, const std::string& service) {
    const std::string enumerator = instanceId.substr(0, instanceId.find('\\'));
    if (EqualsIgnoringAsciiCase(service, "usbser")) {
        return TSerialKind::UsbModem;
    }
    if (EqualsIgnoringAsciiCase(enumerator, "USB")) {
        return TSerialKind::Usb;
    }
    if (EqualsIgnoringAsciiCase(enumerator, "ACPI") || EqualsIgnoringAsciiCase(enumerator, "PCI")) {
        return TSerialKind::Builtin;
    }
    return TSerialKind::Other;
}

}  // namespace

TPortsListing ListMachinePorts() {
    TPortsListing listing;
    listing.Target = WindowsPortTarget;
    listing.DefaultPath = WindowsComPath;
    const HDEVINFO devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return listing;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    std::vector<std::pair<int, TSerialPort>> found;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const std::optional<int> number = PortNumber(devices, device);
        if (!number) {
            continue;
        }
        TSerialPort port;
        port.Name = "COM" + std::to_string(*number);
        port.Path = WindowsComPath(*number);
        port.Driver = TextProperty(devices, device, SPDRP_SERVICE);
        port.Description = TextProperty(devices, device, SPDRP_FRIENDLYNAME);
        if (port.Description.empty()) {
            port.Description = TextProperty(devices, device, SPDRP_DEVICEDESC);
        }
        const std::string instanceId = InstanceId(devices, device);
        const TUsbIds ids =
            ParseWindowsDeviceIds(TextProperty(devices, device, SPDRP_HARDWAREID), instanceId);
        port.VendorId = ids.VendorId;
        port.ProductId = ids.ProductId;
        port.SerialNumber = ids.SerialNumber;
        port.Kind = KindOf(instanceId, port.Driver);
        found.emplace_back(*number, std::move(port));
    }
    SetupDiDestroyDeviceInfoList(devices);
    std::sort(found.begin(), found.end(),
              [](const auto& one, const auto& other) { return one.first < other.first; });
    for (auto& [number, port] : found) {
        listing.Ports.push_back(std::move(port));
    }
    return listing;
}
