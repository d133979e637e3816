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
    if (!sameDay) {
        File.close();
        File.clear();
        OpenYear = time.Year;
        OpenMonth = time.Month;
        OpenDayOfMonth = time.Day;
        ExpiredRemoved = false;
    }
    if (!File.is_open() && !OpenDay(time)) {
        return false;
    }
    Encoded.clear();
    AppendAsCp1251(Encoded, line);
    Encoded.append("\r\n");
    errno = 0;
    File.write(Encoded.data(), static_cast<std::streamsize>(Encoded.size()));
    File.flush();
    if (!File) {
        const int failure = errno != 0 ? errno : EIO;
        Error = "write " + OpenPath + ": " +
                std::error_code(failure, std::generic_category()).message();
        DropFailedLine();
        return false;
    }
    WholeLinesSize += Encoded.size();
    return true;
}

bool TDailyLogFiles::OpenDay(const TLocalTime& time) {
    std::error_code code;
    std::filesystem::create_directories(Utf8Path(FolderPath), code);
    OpenPath = FolderPath + "/" + DailyLogFileName(time.Year, time.Month, time.Day);
    if (code) {
        Error = "create folder " + FolderPath + ": " + code.message();
        return false;
    }
    File.open(Utf8Path(OpenPath), std::ios::binary | std::ios::app);
    if (!File) {
        const int failure = errno;
        Error =
            "open " + OpenPath + ": " + std::error_code(failure, std::generic_category()).message();
        File.close();
        File.clear();
        return false;
    }
    WholeLinesSize = std::filesystem::file_size(Utf8Path(OpenPath), code);
    if (code) {
        WholeLinesSize = 0;
    }
    if (!ExpiredRemoved) {
        ExpiredRemoved = true;
        RemoveExpired(time);
    }
    return true;
}

void TDailyLogFiles::DropFailedLine() {
    // Closing tries the buffered rest once more; on a full disk that fails too, and what did
    // reach the file is cut off, so the next line starts a line of its own.
    File.close();
    File.clear();
    std::error_code code;
    const uintmax_t size = std::filesystem::file_size(Utf8Path(OpenPath), code);
    if (!code && size > WholeLinesSize) {
        std::filesystem::resize_file(Utf8Path(OpenPath), WholeLinesSize, code);
    }
}

void TDailyLogFiles::RemoveExpired(const TLocalTime& today) {
    // The error_code forms throughout: a folder that changes or fails under the scan ends it, and
    // the files left are tried again on the next day.
    std::vector<std::string> names;
    std::error_code code;
    std::filesystem::directory_iterator entry(Utf8Path(FolderPath), code);
    for (; !code && entry != std::filesystem::directory_iterator(); entry.increment(code)) {
        std::error_code typeCode;
        if (entry->is_regular_file(typeCode)) {
            names.push_back(Utf8Text(entry->path().filename()));
        }
    }
    for (const std::string& name : ExpiredDailyLogFiles(names, today, KeepDays)) {
        std::filesystem::remove(Utf8Path(FolderPath + "/" + name), code);
    }
}
