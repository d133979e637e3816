#include "DailyLogFiles.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "Cp1251.h"
#include "Utf8Path.h"

namespace {

constexpr std::string_view kPrefix = "modbus-bridge-";
constexpr std::string_view kSuffix = ".txt";

std::chrono::sys_days DayOf(int year, int month, int day) {
    return std::chrono::sys_days(std::chrono::year{year} /
                                 std::chrono::month{static_cast<unsigned>(month)} /
                                 std::chrono::day{static_cast<unsigned>(day)});
}

bool ParseNumber(std::string_view text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

}  // namespace

std::string DailyLogFileName(int year, int month, int day) {
    char name[48];
    std::snprintf(name, sizeof name, "modbus-bridge-%04d-%02d-%02d.txt", year, month, day);
    return name;
}

std::vector<std::string> ExpiredDailyLogFiles(const std::vector<std::string>& names,
                                              const TLocalTime& today, int keepDays) {
    const std::chrono::sys_days oldestKept =
        DayOf(today.Year, today.Month, today.Day) - std::chrono::days{keepDays};
    std::vector<std::string> expired;
    for (const std::string& name : names) {
        const std::string_view view(name);
        // modbus-bridge-YYYY-MM-DD.txt and nothing else.
        if (view.size() != kPrefix.size() + 10 + kSuffix.size() || !view.starts_with(kPrefix) ||
            !view.ends_with(kSuffix) || view[kPrefix.size() + 4] != '-' ||
            view[kPrefix.size() + 7] != '-') {
            continue;
        }
        int year = 0;
        int month = 0;
        int day = 0;
        const std::string_view date = view.substr(kPrefix.size(), 10);
        if (!ParseNumber(date.substr(0, 4), year) || !ParseNumber(date.substr(5, 2), month) ||
            !ParseNumber(date.substr(8, 2), day)) {
            continue;
        }
        const auto fileDay = std::chrono::year{year} /
                             std::chrono::month{static_cast<unsigned>(month)} /
                             std::chrono::day{static_cast<unsigned>(day)};
        if (fileDay.ok() && std::chrono::sys_days(fileDay) < oldestKept) {
            expired.push_back(name);
        }
    }
    return expired;
}

TDailyLogFiles::TDailyLogFiles(std::string folder, int keepDays)
    : FolderPath(std::move(folder)), KeepDays(keepDays) {}

bool TDailyLogFiles::Append(const TLocalTime& time, std::string_view line) {
    const bool sameDay =
        time.Year == OpenYear && time.Month == OpenMonth && time.Day == OpenDayOfMonth;
    if (!sameDay && !OpenDay(time)) {
        return false;
    }
    if (OpenFailed) {
        return false;
    }
    Encoded.clear();
    AppendAsCp1251(Encoded, line);
    Encoded.append("\r\n");
    File.write(Encoded.data(), static_cast<std::streamsize>(Encoded.size()));
    File.flush();
    if (!File) {
        Error = "write " + FolderPath + "/" + DailyLogFileName(OpenYear, OpenMonth, OpenDayOfMonth);
        return false;
    }
    return true;
}

bool TDailyLogFiles::OpenDay(const TLocalTime& time) {
    OpenYear = time.Year;
    OpenMonth = time.Month;
    OpenDayOfMonth = time.Day;
    File.close();
    File.clear();
    OpenFailed = true;
    std::error_code code;
    std::filesystem::create_directories(Utf8Path(FolderPath), code);
    const std::string path = FolderPath + "/" + DailyLogFileName(time.Year, time.Month, time.Day);
    if (code) {
        Error = "create folder " + FolderPath + ": " + code.message();
        return false;
    }
    File.open(Utf8Path(path), std::ios::binary | std::ios::app);
    if (!File) {
        Error = "open " + path + ": " + std::error_code(errno, std::generic_category()).message();
        return false;
    }
    OpenFailed = false;
    RemoveExpired(time);
    return true;
}

void TDailyLogFiles::RemoveExpired(const TLocalTime& today) {
    std::vector<std::string> names;
    std::error_code code;
    for (const auto& entry : std::filesystem::directory_iterator(Utf8Path(FolderPath), code)) {
        if (entry.is_regular_file(code)) {
            names.push_back(Utf8Text(entry.path().filename()));
        }
    }
    // A file that cannot be removed now is tried again on the next day.
    for (const std::string& name : ExpiredDailyLogFiles(names, today, KeepDays)) {
        std::filesystem::remove(Utf8Path(FolderPath + "/" + name), code);
    }
}
