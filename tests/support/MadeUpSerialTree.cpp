#include "MadeUpSerialTree.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr char kUsbController[] = "sys/devices/pci0000:00/0000:00:14.0/usb1";

void Write(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// A link from the folder of path to target, as a relative path.
void RelativeLink(const fs::path& path, const fs::path& target) {
    fs::create_directories(path.parent_path());
    fs::create_directories(target);
    fs::create_symlink(fs::relative(target, path.parent_path()), path);
}

}  // namespace

void TMadeUpSerialTree::AddFile(const std::string& path, const std::string& content) {
    Write(fs::path(Root_) / path, content);
}

void TMadeUpSerialTree::AddLink(const std::string& path, const std::string& target) {
    fs::create_directories((fs::path(Root_) / path).parent_path());
    fs::create_symlink(target, fs::path(Root_) / path);
}

void TMadeUpSerialTree::LinkDriver(const std::string& deviceFolder, const std::string& bus,
                                   const std::string& driver) {
    const fs::path root(Root_);
    RelativeLink(root / deviceFolder / "driver", root / "sys/bus" / bus / "drivers" / driver);
}

void TMadeUpSerialTree::AddTty(const std::string& name, const std::string& deviceFolder) {
    const fs::path root(Root_);
    const fs::path classFolder = root / deviceFolder / "tty" / name;
    Write(classFolder / "dev", "188:0\n");
    RelativeLink(classFolder / "device", root / deviceFolder);
    RelativeLink(root / "sys/class/tty" / name, classFolder);
    Write(root / "dev" / name, {});
}

void TMadeUpSerialTree::AddUsb(const TUsb& usb) {
    const fs::path root(Root_);
    const std::string device = std::string(kUsbController) + "/" + usb.Place;
    const std::string interface = device + "/" + usb.Place + ":1.0";
    Write(root / device / "idVendor", usb.VendorId + "\n");
    Write(root / device / "idProduct", usb.ProductId + "\n");
    Write(root / device / "manufacturer", usb.Manufacturer + "\n");
    Write(root / device / "product", usb.Product + "\n");
    if (!usb.Serial.empty()) {
        Write(root / device / "serial", usb.Serial + "\n");
    }
    LinkDriver(interface, "usb", usb.Driver);
    if (usb.Modem) {
        AddTty(usb.Name, interface);
    } else {
        const std::string port = interface + "/" + usb.Name;
        LinkDriver(port, "usb-serial", usb.Driver);
        AddTty(usb.Name, port);
    }
    if (!usb.ById.empty()) {
        AddLink("dev/serial/by-id/" + usb.ById, "../../" + usb.Name);
    }
}

void TMadeUpSerialTree::AddUart(const std::string& name, const std::string& driver,
                                const std::string& type) {
    const std::string device = "sys/devices/platform/" + driver + "." + name;
    LinkDriver(device, "platform", driver);
    AddTty(name, device);
    if (!type.empty()) {
        Write(fs::path(Root_) / device / "tty" / name / "type", type + "\n");
    }
}

void TMadeUpSerialTree::AddVirtual(const std::string& name) {
    const fs::path root(Root_);
    const fs::path classFolder = root / "sys/devices/virtual/tty" / name;
    Write(classFolder / "dev", "4:0\n");
    RelativeLink(root / "sys/class/tty" / name, classFolder);
}
