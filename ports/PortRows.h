#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SerialPorts.h"

class TIniFile;

// One line of the ports table: a port present with the COM numbers that open it, or a line of
// [Ports] whose device is not present.
struct TPortRow {
    // The COM numbers whose requests open the device, in order.
    std::vector<int> Numbers;
    // The one of them that opens it without a line in [Ports] (COM1 is /dev/ttyS0, COM5 is
    // \\.\COM5), when it has no line of its own.
    std::optional<int> DefaultNumber;
    // The port; none for a line whose device is not a port present.
    std::optional<TSerialPort> Port;
    // For such a line: its value and what it leads to.
    std::string Value;
    TPortTarget Target;
    // The number that the action keeping an adapter's COM number offers: the row's first, or for
    // a port without one the first number that has no line and opens no port present.
    int OfferedNumber = 0;

    bool operator==(const TPortRow&) const = default;
};

// The ports of the listing, in its order, then the lines of [Ports] (by number) whose devices are
// not among them. Lines that ApplyPortMap ignores (no COM1 to COM255, an empty path) are left out.
std::vector<TPortRow> PortRows(const TPortsListing& listing, const TIniFile& settings);

// The table's column titles and a row's texts under them ("—" for a port no number opens).
inline constexpr size_t kPortColumns = 7;
const std::array<std::string_view, kPortColumns>& PortColumnTitles();
std::array<std::string, kPortColumns> PortRowCells(const TPortRow& row);

// The table as text for a console: the titles, then a line per row, the columns lined up (by
// characters) and those empty in every row left out; a line that says so when there are no rows.
std::string PortsTableText(const std::vector<TPortRow>& rows);
