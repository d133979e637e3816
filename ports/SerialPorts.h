#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What kind of serial port a device is, as far as the system tells.
enum class TSerialKind {
    // A USB serial adapter.
    Usb,
    // A USB device of the modem class (CDC ACM), as many adapters and devices present themselves.
    UsbModem,
    // A UART of the computer itself, on its board or an expansion card.
    Builtin,
    Other,
};

// "USB", "USB (CDC ACM)", "встроенный", "другой".
std::string_view SerialKindText(TSerialKind kind);

// A serial port present on this computer, with what identifies its adapter. Texts are UTF-8;
// what the system does not tell is empty.
struct TSerialPort {
    // ttyUSB0, COM5.
    std::string Name;
    // What a [Ports] line names and the link opens: /dev/ttyUSB0, \\.\COM5.
    std::string Path;
    // The path that names this adapter whichever socket it is in (/dev/serial/by-id/...); empty
    // where there is none (Windows keeps an adapter's COM number itself).
    std::string StablePath;
    TSerialKind Kind = TSerialKind::Other;
    // The driver's name (ftdi_sio, cdc_acm, serial; usbser).
    std::string Driver;
    // The adapter's own words: the USB manufacturer and product texts, or Windows' friendly name.
    std::string Description;
    // Four lower-case hexadecimal digits each, for a USB device.
    std::string VendorId;
    std::string ProductId;
    std::string SerialNumber;

    bool operator==(const TSerialPort&) const = default;
};

// What a [Ports] value leads to when that is none of the ports present.
enum class TTargetKind {
    // Nothing there: an adapter unplugged, a path mistyped (Linux).
    Missing,
    // A pseudo-terminal: a program's end of a terminal pair (modbus-sim, socat), no adapter.
    PseudoTerminal,
    // Something there that is not a serial port of this computer (Linux).
    Other,
    // A name that none of the ports listed has (Windows, which lists only the ports it installed).
    NotListed,
};

// The device a [Ports] value leads to: its path as a port's Path would name it (links followed,
// COM names written as the link opens them), and what it is if no port present has that path.
struct TPortTarget {
    std::string Path;
    TTargetKind Kind = TTargetKind::Missing;
};

// This computer's serial ports, and how its [Ports] values name them.
struct TPortsListing {
    std::vector<TSerialPort> Ports;
    std::function<TPortTarget(const std::string& value)> Target;
    // The device a COM number opens without a line in [Ports] (/dev/ttyS<n-1>, \\.\COM<n>).
    std::function<std::string(int number)> DefaultPath;
};

// The ports present now: from /sys and /dev on Linux, from the device installation API on
// Windows.
TPortsListing ListMachinePorts();
