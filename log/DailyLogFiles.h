#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "LocalTime.h"
#include "LogFile.h"

// Every log line as it comes, in one plain-text file per day (Windows-1251, CR LF, as the saved
// text log), so that nothing is lost when the window keeps only the newest lines in memory. A
// line written on a new day starts that day's file; files older than the days to keep are
// removed then. Each line reaches the file before Append returns. A failure (a full disk, a
// folder gone) costs the lines written while it lasts, never the rest of the day: every line
// tries again, and a line that reached the file only in part is taken back out of it.
class TDailyLogFiles {
public:
    TDailyLogFiles(std::string folder, int keepDays);

    // The line (as the log model holds it) written at the given local time. False when it could
    // not be written; LastError then says why.
    bool Append(const TLocalTime& time, std::string_view line);

    const std::string& Folder() const { return FolderPath; }
    // The failing step, the path and the system's reason of the last failure.
    const std::string& LastError() const { return Error; }

private:
    // Opens the day's file; the first time in a day also removes the expired ones.
    bool OpenDay(const TLocalTime& time);
    // Closes the day's file after a failed write, cut back to its last whole line.
    void DropFailedLine();
    void RemoveExpired(const TLocalTime& today);

    std::string FolderPath;
    int KeepDays;
    int OpenYear = 0;
    int OpenMonth = 0;
    int OpenDayOfMonth = 0;
    bool ExpiredRemoved = false;
    std::string OpenPath;
    // The size of the open file up to its last whole line.
    uintmax_t WholeLinesSize = 0;
    std::ofstream File;
    std::string Encoded;
    std::string Error;
};

// "modbus-bridge-YYYY-MM-DD.txt"
std::string DailyLogFileName(int year, int month, int day);

// Of the names in a folder, the daily files of days more than keepDays before today; other
// names are never chosen.
std::vector<std::string> ExpiredDailyLogFiles(const std::vector<std::string>& names,
                                              const TLocalTime& today, int keepDays);
