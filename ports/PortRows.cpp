#include "PortRows.h"

#include <algorithm>
#include <bitset>

#include "IniFile.h"
#include "PortMap.h"

namespace {

constexpr std::string_view kSection = "Ports";
constexpr std::string_view kDevicePrefix = "\\\\.\\";

std::string_view TargetText(TTargetKind kind) {
    switch (kind) {
        case TTargetKind::Missing:
            return "устройства нет";
        case TTargetKind::PseudoTerminal:
            return "псевдотерминал, не адаптер";
        case TTargetKind::Other:
            return "не последовательный порт";
        case TTargetKind::NotListed:
            return "нет среди портов";
    }
    return {};
}

// Characters, not bytes: the table lines up Cyrillic text too.
size_t Width(std::string_view text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace

std::string_view SerialKindText(TSerialKind kind) {
    switch (kind) {
        case TSerialKind::Usb:
            return "USB";
        case TSerialKind::UsbModem:
            return "USB (CDC ACM)";
        case TSerialKind::Builtin:
            return "встроенный";
        case TSerialKind::Other:
            return "другой";
    }
    return {};
}

std::vector<TPortRow> PortRows(const TPortsListing& listing, const TIniFile& settings) {
    std::vector<TPortRow> rows(listing.Ports.size());
    const auto present = [&listing](const std::string& path) {
        const auto found =
            std::find_if(listing.Ports.begin(), listing.Ports.end(),
                         [&path](const TSerialPort& port) { return port.Path == path; });
        return found == listing.Ports.end()
                   ? std::optional<size_t>()
                   : std::optional<size_t>(static_cast<size_t>(found - listing.Ports.begin()));
    };
    for (size_t index = 0; index < rows.size(); ++index) {
        rows[index].Port = listing.Ports[index];
    }

    std::bitset<256> lined;
    std::vector<TPortRow> absent;
    for (const std::string& key : settings.Keys(kSection)) {
        int number = 0;
        const std::string value = settings.ReadString(kSection, key, "");
        // A repeated key: the last line holds, as ReadString reads it.
        if (!ParsePortName(key, number) || value.empty() ||
            lined.test(static_cast<size_t>(number))) {
            continue;
        }
        lined.set(static_cast<size_t>(number));
        const TPortTarget target = listing.Target(value);
        if (const std::optional<size_t> port = present(target.Path)) {
            rows[*port].Numbers.push_back(number);
        } else {
            TPortRow row;
            row.Numbers = {number};
            row.Value = value;
            row.Target = target;
            absent.push_back(std::move(row));
        }
    }
    int firstFree = 0;
    for (int number = 1; number <= 255; ++number) {
        if (lined.test(static_cast<size_t>(number))) {
            continue;
        }
        if (const std::optional<size_t> port = present(listing.DefaultPath(number))) {
            rows[*port].Numbers.push_back(number);
            rows[*port].DefaultNumber = number;
        } else if (firstFree == 0) {
            firstFree = number;
        }
    }
    for (TPortRow& row : rows) {
        std::sort(row.Numbers.begin(), row.Numbers.end());
        row.OfferedNumber = row.Numbers.empty() ? firstFree : row.Numbers.front();
    }
    std::sort(absent.begin(), absent.end(), [](const TPortRow& one, const TPortRow& other) {
        return one.Numbers.front() < other.Numbers.front();
    });
    for (TPortRow& row : absent) {
        row.OfferedNumber = row.Numbers.front();
        rows.push_back(std::move(row));
    }
    return rows;
}

const std::array<std::string_view, kPortColumns>& PortColumnTitles() {
    static const std::array<std::string_view, kPortColumns> titles = {
        "COM", "Устройство", "Тип", "Адаптер", "VID:PID", "Серийный номер", "Постоянный путь"};
    return titles;
}

std::array<std::string, kPortColumns> PortRowCells(const TPortRow& row) {
    std::array<std::string, kPortColumns> cells;
    for (const int number : row.Numbers) {
        cells[0] += (cells[0].empty() ? "COM" : ", COM") + std::to_string(number);
        if (row.DefaultNumber == number) {
            cells[0] += " (без строки)";
        }
    }
    if (cells[0].empty()) {
        cells[0] = "—";
    }
    if (!row.Port) {
        cells[1] = row.Value;
        if (row.Target.Path != row.Value && row.Target.Kind != TTargetKind::Missing) {
            cells[1] += " → " + row.Target.Path;
        }
        cells[2] = TargetText(row.Target.Kind);
        return cells;
    }
    const TSerialPort& port = *row.Port;
    cells[1] =
        port.Path.starts_with(kDevicePrefix) ? port.Path.substr(kDevicePrefix.size()) : port.Path;
    cells[2] = SerialKindText(port.Kind);
    cells[3] = port.Description;
    if (!port.VendorId.empty() || !port.ProductId.empty()) {
        cells[4] = port.VendorId + ":" + port.ProductId;
    }
    cells[5] = port.SerialNumber;
    cells[6] = port.StablePath;
    return cells;
}

std::string PortsTableText(const std::vector<TPortRow>& rows) {
    if (rows.empty()) {
        return "Последовательных портов нет, и в разделе [Ports] нет строк\n";
    }
    std::vector<std::array<std::string, kPortColumns>> lines;
    std::array<std::string, kPortColumns> titles;
    std::copy(PortColumnTitles().begin(), PortColumnTitles().end(), titles.begin());
    lines.push_back(titles);
    for (const TPortRow& row : rows) {
        lines.push_back(PortRowCells(row));
    }
    std::array<size_t, kPortColumns> widths{};
    std::array<bool, kPortColumns> used{};
    for (size_t line = 0; line < lines.size(); ++line) {
        for (size_t column = 0; column < kPortColumns; ++column) {
            widths[column] = std::max(widths[column], Width(lines[line][column]));
            used[column] = used[column] || (line > 0 && !lines[line][column].empty());
        }
    }
    std::string text;
    for (const auto& cells : lines) {
        std::string line;
        for (size_t column = 0; column < kPortColumns; ++column) {
            if (!used[column]) {
                continue;
            }
            if (!line.empty()) {
                line += "  ";
            }
            line += cells[column];
            line.append(widths[column] - Width(cells[column]), ' ');
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        text += line + "\n";
    }
    return text;
}
