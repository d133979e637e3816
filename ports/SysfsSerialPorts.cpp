#include "SysfsSerialPorts.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, without its line feed; empty when there is none.
std::string Attribute(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

// The path with its links followed; empty when it leads nowhere.
fs::path Resolved(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    return error ? fs::path() : resolved;
}

// "/dev/ttyUSB0" for the resolved path root/dev/ttyUSB0; empty when it lies outside root.
std::string InsideRoot(const fs::path& resolved, const fs::path& root) {
    const fs::path relative = resolved.lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") {
        return {};
    }
    return "/" + relative.generic_string();
}

// ttyS2 before ttyS10: the names compared by their letters, then by their number.
bool NameBefore(const std::string& one, const std::string& other) {
    const auto split = [](const std::string& name) {
        size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) {
            --digits;
        }
        return std::pair(name.substr(0, digits), name.substr(digits));
    };
    const auto [oneStem, oneNumber] = split(one);
    const auto [otherStem, otherNumber] = split(other);
    if (oneStem != otherStem) {
        return oneStem < otherStem;
    }
    if (oneNumber.size() != otherNumber.size()) {
        return oneNumber.size() < otherNumber.size();
    }
    return oneNumber < otherNumber;
}

// The USB device above a tty's device: the first folder up the tree with idVendor.
fs::path UsbDeviceAbove(fs::path at, const fs::path& top) {
    for (; !at.empty() && at != top && at != at.root_path(); at = at.parent_path()) {
        if (fs::exists(at / "idVendor")) {
            return at;
        }
    }
    return {};
}

std::string Joined(const std::string& one, const std::string& other) {
    if (one.empty() || other.empty()) {
        return one + other;
    }
    return one + " " + other;
}

}  // namespace

TPortsListing SysfsPortsListing(const std::string& rootFolder) {
    const fs::path root = Resolved(rootFolder);
    TPortsListing listing;
    listing.Target = [root](const std::string& value) {
        const fs::path given(value);
        const fs::path resolved =
            Resolved(given.is_absolute() ? root / given.relative_path() : root / given);
        const std::string path = resolved.empty() ? std::string() : InsideRoot(resolved, root);
        if (path.empty()) {
            return TPortTarget{value, TTargetKind::Missing};
        }
        return TPortTarget{
            path, path.starts_with("/dev/pts/") ? TTargetKind::PseudoTerminal : TTargetKind::Other};
    };
    listing.DefaultPath = [](int number) { return "/dev/ttyS" + std::to_string(number - 1); };
    if (root.empty()) {
        return listing;
    }

    // The stable names, by the device they lead to.
    std::map<std::string, std::string> stableNames;
    std::error_code error;
    for (const fs::directory_entry& link :
         fs::directory_iterator(root / "dev/serial/by-id", error)) {
        const fs::path target = Resolved(link.path());
        if (!target.empty()) {
            stableNames[InsideRoot(target, root)] =
                "/dev/serial/by-id/" + link.path().filename().string();
        }
    }

    const fs::path devices = Resolved(root / "sys/devices");
    for (const fs::directory_entry& entry : fs::directory_iterator(root / "sys/class/tty", error)) {
        const fs::path tty = entry.path();
        const fs::path device = Resolved(tty / "device");
        // Virtual terminals, the console and the pseudo-terminal master have no device.
        if (device.empty()) {
            continue;
        }
        // The 8250 driver makes its slots whether or not a UART answers behind them.
        if (fs::exists(tty / "type") && Attribute(tty / "type") == "0") {
            continue;
        }
        TSerialPort port;
        port.Name = tty.filename().string();
        port.Path = "/dev/" + port.Name;
        port.Driver = Resolved(device / "driver").filename().string();
        if (const auto stable = stableNames.find(port.Path); stable != stableNames.end()) {
            port.StablePath = stable->second;
        }
        if (const fs::path usb = UsbDeviceAbove(device, devices); !usb.empty()) {
            port.Kind = port.Driver == "cdc_acm" ? TSerialKind::UsbModem : TSerialKind::Usb;
            port.VendorId = Attribute(usb / "idVendor");
            port.ProductId = Attribute(usb / "idProduct");
            port.SerialNumber = Attribute(usb / "serial");
            port.Description = Joined(Attribute(usb / "manufacturer"), Attribute(usb / "product"));
        } else {
            port.Kind = TSerialKind::Builtin;
        }
        listing.Ports.push_back(std::move(port));
    }
    std::sort(listing.Ports.begin(), listing.Ports.end(),
              [](const TSerialPort& one, const TSerialPort& other) {
                  return NameBefore(one.Name, other.Name);
              });
    return listing;
}
