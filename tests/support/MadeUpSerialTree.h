#pragma once

#include <string>

// A made-up /sys and /dev below a folder, laid out as Linux lays them out for serial ports: the
// tty class's links into the device tree, drivers, USB devices with their attributes, the
// /dev/serial/by-id links. Relative links, as the kernel and udev make them.
class TMadeUpSerialTree {
public:
    explicit TMadeUpSerialTree(std::string root) : Root_(std::move(root)) {}

    struct TUsb {
        // The tty's name (ttyUSB0, ttyACM0) and its driver (the interface's for a modem).
        std::string Name;
        std::string Driver;
        // The USB device's place on the bus (1-1), ids and texts; no serial file when empty.
        std::string Place;
        std::string VendorId;
        std::string ProductId;
        std::string Manufacturer;
        std::string Product;
        std::string Serial;
        // The name of its /dev/serial/by-id link; none when empty.
        std::string ById;
        // A modem (CDC ACM): the tty hangs below the interface itself, not below a port device.
        bool Modem = false;
    };
    void AddUsb(const TUsb& usb);
    // A UART of the platform (ttyS1, ttyAMA0) with its serial core type (0: nothing behind the
    // slot; empty: no type attribute).
    void AddUart(const std::string& name, const std::string& driver, const std::string& type);
    // A terminal without a device (tty0, console).
    void AddVirtual(const std::string& name);
    // A file, with its folders; a link (relative, as given) to a target below root.
    void AddFile(const std::string& path, const std::string& content = {});
    void AddLink(const std::string& path, const std::string& target);

    const std::string& Root() const { return Root_; }

private:
    // The tty's class folder below its device folder, the class link and the /dev node.
    void AddTty(const std::string& name, const std::string& deviceFolder);
    void LinkDriver(const std::string& deviceFolder, const std::string& bus,
                    const std::string& driver);

    std::string Root_;
};
