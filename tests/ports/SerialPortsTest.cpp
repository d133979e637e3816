// The ports listing and its table: Windows' device ids and COM names (both platforms), the
// listing over made-up /sys and /dev trees and over this machine's own (Linux).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <string>
#include <vector>

#include "IniFile.h"
#include "PortRows.h"
#include "WindowsDeviceIds.h"

#ifndef _WIN32
#include <filesystem>

#include "MadeUpSerialTree.h"
#include "SpawnedProgram.h"
#include "SysfsSerialPorts.h"
#include "TempFolder.h"
#endif

namespace {

TIniFile Settings(const std::string& text) {
    TIniFile settings;
    settings.LoadText(text);
    return settings;
}

// The COM column and the device column of each row: which numbers open what.
std::vector<std::string> NumbersAndDevices(const std::vector<TPortRow>& rows) {
    std::vector<std::string> texts;
    for (const TPortRow& row : rows) {
        const auto cells = PortRowCells(row);
        texts.push_back(cells[0] + " | " + cells[1] + " | " + cells[2]);
    }
    return texts;
}

// A wrong vendor, product or serial number names another adapter; a made-up serial number taken
// for the device's own would tell two cables apart that cannot be.
TEST(SerialPortsTest, WindowsDeviceIdsGiveTheAdaptersIds) {
    const struct {
        const char* HardwareId;
        const char* InstanceId;
        TUsbIds Ids;
    } cases[] = {
        {"USB\\VID_1A2B&PID_3C4D&REV_0600",
         "USB\\VID_1A2B&PID_3C4D\\AB12CD34",
         {"1a2b", "3c4d", "AB12CD34"}},
        {"usb\\vid_5e6f&pid_7a8b", "USB\\VID_5E6F&PID_7A8B\\5&2F3A1B0&0&2", {"5e6f", "7a8b", ""}},
        // The interface of a composite device: the serial number is its parent's.
        {"USB\\VID_9C0D&PID_1E2F&MI_00",
         "USB\\VID_9C0D&PID_1E2F&MI_00\\6&1A2B3C&0&0000",
         {"9c0d", "1e2f", ""}},
        {"USB\\VID_9C0D&PID_1E2F&MI_02",
         "USB\\VID_9C0D&PID_1E2F&MI_02\\SERIAL7",
         {"9c0d", "1e2f", ""}},
        // Another bus: ids from the hardware id, no serial number.
        {"ACMEBUS\\VID_1A2B+PID_3C4D",
         "ACMEBUS\\VID_1A2B+PID_3C4D+XY99A\\0000",
         {"1a2b", "3c4d", ""}},
        {"ACPI\\PNP0501", "ACPI\\PNP0501\\1", {"", "", ""}},
        {"USB\\VID_12&PID_3C4D", "USB\\VID_12&PID_3C4D\\X", {"", "3c4d", "X"}},
        {"", "", {"", "", ""}},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(ParseWindowsDeviceIds(each.HardwareId, each.InstanceId), each.Ids)
            << each.InstanceId;
    }
}

// On Windows a COM number opens \\.\COM<n> unless [Ports] maps it; a line may name the port with
// or without \\.\ and in any case. Ports Windows does not list are said to be missing from it.
TEST(SerialPortsTest, WindowsComNamesOpenTheirPortsAndMappedNumbersJoinThem) {
    TSerialPort usb;
    usb.Name = "COM3";
    usb.Path = WindowsComPath(3);
    usb.Kind = TSerialKind::Usb;
    usb.Description = "Acme USB Serial Port (COM3)";
    usb.VendorId = "1a2b";
    usb.ProductId = "3c4d";
    usb.SerialNumber = "AB12CD34";
    TSerialPort builtin;
    builtin.Name = "COM12";
    builtin.Path = WindowsComPath(12);
    builtin.Kind = TSerialKind::Builtin;
    const TPortsListing listing{{usb, builtin}, WindowsPortTarget, WindowsComPath};
    const TIniFile settings = Settings(
        "[Ports]\ncom1=\\\\.\\com3\nCOM2=COM12\nCOM4=\\\\.\\COM09\nCOM5=\nCOMX=COM3\n"
        "COM12=\\\\.\\CNCA0\n");
    const std::vector<TPortRow> rows = PortRows(listing, settings);
    EXPECT_EQ(NumbersAndDevices(rows),
              (std::vector<std::string>{"COM1, COM3 (без строки) | COM3 | USB",
                                        "COM2 | COM12 | встроенный",
                                        "COM4 | \\\\.\\COM09 → \\\\.\\COM9 | нет среди портов",
                                        "COM12 | \\\\.\\CNCA0 | нет среди портов"}));
    EXPECT_EQ(PortRowCells(rows[0])[4], "1a2b:3c4d");
    EXPECT_EQ(rows[0].OfferedNumber, 1);
    // The first number with no line that opens no port present.
    EXPECT_EQ(rows[1].OfferedNumber, 2);
}

#ifndef _WIN32

// A made-up machine: USB adapters with and without a serial number, a modem, UARTs of the
// platform (and an empty UART slot), a virtual terminal; [Ports] lines that lead to them by
// their stable and their plain names, to modbus-sim's pseudo-terminal, to an adapter unplugged,
// to a file that is no port, and lines the map ignores.
class SysfsPortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        TMadeUpSerialTree tree(Folder.Path());
        tree.AddUsb({"ttyUSB0", "acme_uart", "1-1", "1a2b", "3c4d", "Acme", "Bridge Cable",
                     "AB12CD34", "usb-Acme_Bridge_Cable_AB12CD34-if00-port0"});
        tree.AddUsb(
            {"ttyUSB1", "usbserial_generic", "1-2", "5e6f", "7a8b", "", "Plain Cable", "", ""});
        tree.AddUsb({"ttyACM0", "cdc_acm", "1-3", "9c0d", "1e2f", "Example Works", "Meter", "M-7",
                     "usb-Example_Works_Meter_M-7-if00", true});
        tree.AddUart("ttyS10", "serial8250", "4");
        tree.AddUart("ttyS9", "serial8250", "4");
        tree.AddUart("ttyS2", "serial8250", "0");
        tree.AddUart("ttyAMA0", "uart-pl0", "");
        tree.AddVirtual("tty0");
        tree.AddVirtual("console");
        tree.AddFile("dev/pts/3");
        tree.AddLink("tmp/modbus-sim-port", "../dev/pts/3");
        tree.AddFile("dev/zero");
    }

    TTempFolder Folder{"sysfs-ports"};
};

TEST_F(SysfsPortsTest, EachPortWithWhatIdentifiesItAndTheNumbersThatOpenIt) {
    const TPortsListing listing = SysfsPortsListing(Folder.Path());
    const TIniFile settings = Settings(
        "[Ports]\n"
        "COM1=/dev/serial/by-id/usb-Acme_Bridge_Cable_AB12CD34-if00-port0\n"
        "COM2=/dev/ttyUSB1\n"
        "COM3=/tmp/modbus-sim-port\n"
        "COM4=/dev/serial/by-id/usb-Gone_Adapter_0001-if00-port0\n"
        "COM5=/dev/zero\n"
        "COM6=\n"
        "COMX=/dev/ttyUSB0\n"
        "COM7=/dev/ttyUSB0\n");
    const std::vector<TPortRow> rows = PortRows(listing, settings);
    using TCells = std::array<std::string, kPortColumns>;
    std::vector<TCells> cells;
    for (const TPortRow& row : rows) {
        cells.push_back(PortRowCells(row));
    }
    const std::string acm = "/dev/serial/by-id/usb-Example_Works_Meter_M-7-if00";
    const std::string acme = "/dev/serial/by-id/usb-Acme_Bridge_Cable_AB12CD34-if00-port0";
    EXPECT_EQ(
        cells,
        (std::vector<TCells>{
            {"—", "/dev/ttyACM0", "USB (CDC ACM)", "Example Works Meter", "9c0d:1e2f", "M-7", acm},
            {"—", "/dev/ttyAMA0", "встроенный", "", "", "", ""},
            {"COM10 (без строки)", "/dev/ttyS9", "встроенный", "", "", "", ""},
            {"COM11 (без строки)", "/dev/ttyS10", "встроенный", "", "", "", ""},
            {"COM1, COM7", "/dev/ttyUSB0", "USB", "Acme Bridge Cable", "1a2b:3c4d", "AB12CD34",
             acme},
            {"COM2", "/dev/ttyUSB1", "USB", "Plain Cable", "5e6f:7a8b", "", ""},
            {"COM3", "/tmp/modbus-sim-port → /dev/pts/3", "псевдотерминал, не адаптер", "", "", "",
             ""},
            {"COM4", "/dev/serial/by-id/usb-Gone_Adapter_0001-if00-port0", "устройства нет", "", "",
             "", ""},
            {"COM5", "/dev/zero", "не последовательный порт", "", "", "", ""},
        }));
    EXPECT_EQ(rows[0].Port->Driver, "cdc_acm");
    EXPECT_EQ(rows[4].Port->Driver, "acme_uart");
    // What the action that keeps an adapter offers: its number, or the first free one (COM6 has
    // an empty line, which maps nothing).
    EXPECT_EQ(rows[4].OfferedNumber, 1);
    EXPECT_EQ(rows[0].OfferedNumber, 6);

    // The console's table: the columns start at the same character on every line, Cyrillic
    // and arrows counted as one each.
    const std::string text = PortsTableText(rows);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), rows.size() + 1);
    const auto column = [](const std::string& line, const std::string& cell) {
        const size_t bytes = line.find(cell);
        return bytes == std::string::npos
                   ? std::string::npos
                   : static_cast<size_t>(std::count_if(line.begin(),
                                                       line.begin() + static_cast<long>(bytes),
                                                       [](char c) { return (c & 0xC0) != 0x80; }));
    };
    const size_t kind = column(lines[0], "Тип");
    EXPECT_EQ(column(lines[1], "USB (CDC ACM)"), kind);
    EXPECT_EQ(column(lines[2], "встроенный"), kind);
    EXPECT_EQ(column(lines[7], "псевдотерминал"), kind);
    EXPECT_EQ(column(lines[8], "устройства нет"), kind);
    EXPECT_EQ(column(lines[0], "Устройство"), column(lines[7], "/tmp/modbus-sim-port"));
    EXPECT_TRUE(lines[0].starts_with("COM  ")) << lines[0];
    EXPECT_EQ(PortsTableText({}), "Последовательных портов нет, и в разделе [Ports] нет строк\n");
}

// This machine's own ports, with a [Ports] line for modbus-sim's pseudo-terminal (through the
// link it keeps, as tools/run.sh maps COM1): that line is told to be a pseudo-terminal and no
// adapter, and no port of the listing is one.
TEST(SysfsMachinePortsTest, ThisMachinesPortsSayNothingWrongOfModbusSimsTerminal) {
    const TTempFolder folder("machine-ports");
    const std::string link = folder.Path() + "/modbus-sim-port";
    TRunningSim sim;
    ASSERT_TRUE(sim.Start({"--link", link}));
    const TPortsListing listing = ListMachinePorts();
    for (const TSerialPort& port : listing.Ports) {
        SCOPED_TRACE(port.Path);
        EXPECT_FALSE(port.Path.starts_with("/dev/pts")) << port.Name;
        EXPECT_NE(port.Path, sim.Port);
        EXPECT_TRUE(std::filesystem::exists("/sys/class/tty/" + port.Name + "/device"));
    }
    const std::vector<TPortRow> rows = PortRows(listing, Settings("[Ports]\nCOM1=" + link + "\n"));
    ASSERT_FALSE(rows.empty());
    EXPECT_FALSE(rows.back().Port);
    EXPECT_EQ(PortRowCells(rows.back()),
              (std::array<std::string, kPortColumns>{
                  "COM1", link + " → " + sim.Port, "псевдотерминал, не адаптер", "", "", "", ""}));
    std::cout << PortsTableText(rows);
}

#endif

}  // namespace
