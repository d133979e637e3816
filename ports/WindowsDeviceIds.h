#pragma once

#include <string>
#include <string_view>

#include "SerialPorts.h"

// What Windows' device ids tell of a USB adapter, ids in four lower-case hexadecimal digits.
struct TUsbIds {
    std::string VendorId;
    std::string ProductId;
    std::string SerialNumber;

    bool operator==(const TUsbIds&) const = default;
};

// From a device's first hardware id ("USB\VID_0A1B&PID_2C3D&REV_0100") and its instance id
// ("USB\VID_0A1B&PID_2C3D\SN0042"). The serial number is the instance id's last part where
// that is the device's own: Windows makes one up, with '&' in it, for a device that has none, and
// the interface of a composite device (MI_) has its parent's.
TUsbIds ParseWindowsDeviceIds(std::string_view hardwareId, std::string_view instanceId);

// \\.\COM<n>: the device that a COM number opens on Windows.
std::string WindowsComPath(int number);

// A [Ports] value as the link opens it on Windows: a COM name, with or without \\.\ and in any
// case, as \\.\COM<n>; anything else as it is. No port listed has it when it is looked up.
TPortTarget WindowsPortTarget(const std::string& value);
