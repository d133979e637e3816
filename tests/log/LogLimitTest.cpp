// A log that runs for months: the newest lines within a memory limit, and every line in daily
// files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "DailyLogFiles.h"
#include "FileContents.h"
#include "LogModel.h"
#include "TempFolder.h"

namespace {

constexpr size_t kMiB = size_t{1} << 20;

std::string NumberedLine(uint64_t number, size_t length) {
    std::string text = "line " + std::to_string(number) + " ";
    text.resize(std::max(length, text.size()), static_cast<char>('a' + number % 26));
    return text;
}

TEST(LogLimitTest, OldestLinesGoInWholeChunksAndTheRestStayIntactInOrder) {
    struct TCase {
        const char* Name;
        size_t LimitBytes;
        // Every how many lines one longer than a chunk comes.
        uint64_t LongEvery;
    };
    const TCase cases[] = {
        {"short lines", 4 * kMiB, 0},
        {"with lines longer than a chunk", 6 * kMiB, 20011},
        {"a limit below one chunk keeps the newest chunk", 1000, 0},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TLogModel log;
        log.SetLimitBytes(test.LimitBytes);
        std::vector<size_t> lengths;
        uint64_t dropsSeen = 0;
        uint64_t lastDropped = 0;
        for (uint64_t number = 0; number < 200000; ++number) {
            const bool isLong = test.LongEvery != 0 && number % test.LongEvery == 0;
            const size_t length = isLong ? kMiB + 3 : 40 + number % 50;
            lengths.push_back(length);
            log.Append(number % 2 == 0 ? TLogKind::Send : TLogKind::Receive,
                       NumberedLine(number, length));
            ASSERT_EQ(log.Dropped() + log.Size(), number + 1);
            if (log.Dropped() != lastDropped) {
                ++dropsSeen;
                // Whole chunks of about 1 MiB of text go at once, never a line at a time (a line
                // longer than a chunk has a chunk of its own).
                if (test.LongEvery == 0) {
                    EXPECT_GT(log.Dropped() - lastDropped, 1000u);
                }
                lastDropped = log.Dropped();
            }
            if (test.LimitBytes >= 2 * kMiB) {
                ASSERT_LE(log.HeldBytes(), test.LimitBytes);
            }
        }
        EXPECT_GT(dropsSeen, 3u);
        // The newest lines are held, oldest first, each whole with its kind.
        for (size_t index = 0; index < log.Size(); ++index) {
            const uint64_t number = log.Dropped() + index;
            const TLogModel::TLine line = log.Line(index);
            ASSERT_EQ(line.Text, NumberedLine(number, lengths[number])) << "line " << number;
            ASSERT_EQ(line.Kind, number % 2 == 0 ? TLogKind::Send : TLogKind::Receive);
        }
        EXPECT_TRUE(log.Line(log.Size()).Text.empty());
    }
}

TEST(LogLimitTest, WithoutALimitNothingIsDropped) {
    TLogModel log;
    for (uint64_t number = 0; number < 100000; ++number) {
        log.Append(TLogKind::Info, NumberedLine(number, 60));
    }
    EXPECT_EQ(log.Dropped(), 0u);
    EXPECT_EQ(log.Line(0).Text, NumberedLine(0, 60));
}

TEST(DailyLogFilesTest, ExpiredFilesAreOnlyDailyFilesOlderThanTheDaysKept) {
    const TLocalTime today{2026, 3, 1, 0, 0, 5, 0};
    const std::vector<std::string> names = {
        "modbus-bridge-2026-03-01.txt",  // today
        "modbus-bridge-2026-02-28.txt",  // yesterday, across the end of February
        "modbus-bridge-2026-01-30.txt",  // 30 days ago: kept
        "modbus-bridge-2026-01-29.txt",  // 31 days ago
        "modbus-bridge-2025-12-31.txt",  // the year before
        "modbus-bridge-2026-02-30.txt",  // no such day
        "modbus-bridge-2026-1-05.txt",   // not our name
        "modbus-bridge-2020-01-01.txt.bak", "notes-2020-01-01.txt", "modbus-bridge.ini",
    };
    EXPECT_EQ(
        ExpiredDailyLogFiles(names, today, 30),
        (std::vector<std::string>{"modbus-bridge-2026-01-29.txt", "modbus-bridge-2025-12-31.txt"}));
    EXPECT_EQ(
        ExpiredDailyLogFiles(names, today, 1),
        (std::vector<std::string>{"modbus-bridge-2026-01-30.txt", "modbus-bridge-2026-01-29.txt",
                                  "modbus-bridge-2025-12-31.txt"}));
}

TEST(DailyLogFilesTest, ANewFileAtMidnightInWindows1251WithCrLfAndOldFilesRemoved) {
    const TTempFolder temporary("daily-log-test");
    const std::string root = temporary.Path();
    const std::string folder = root + "/logs/bridge";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/modbus-bridge-2026-12-01.txt") << "old";
    std::ofstream(folder + "/modbus-bridge-2026-12-04.txt") << "kept";
    std::ofstream(folder + "/other.txt") << "not ours";

    TDailyLogFiles files(folder, 2);
    ASSERT_TRUE(files.Append({2026, 12, 6, 23, 59, 59, 998}, "23:59:59.998\tСтарт"));
    ASSERT_TRUE(files.Append({2026, 12, 6, 23, 59, 59, 999}, "23:59:59.999\t>> READ"));
    ASSERT_TRUE(files.Append({2026, 12, 7, 0, 0, 0, 1}, "00:00:00.001\t<< READ"));

    // "Старт" in Windows-1251.
    EXPECT_EQ(FileContents(folder + "/modbus-bridge-2026-12-06.txt"),
              "23:59:59.998\t\xD1\xF2\xE0\xF0\xF2\r\n23:59:59.999\t>> READ\r\n");
    EXPECT_EQ(FileContents(folder + "/modbus-bridge-2026-12-07.txt"), "00:00:00.001\t<< READ\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder + "/modbus-bridge-2026-12-01.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/modbus-bridge-2026-12-04.txt"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/other.txt"));

    // A folder that cannot be made: reported; once it can be, the next line makes it.
    TDailyLogFiles blocked(folder + "/other.txt/below", 30);
    EXPECT_FALSE(blocked.Append({2026, 12, 7, 1, 0, 0, 0}, "x"));
    EXPECT_NE(blocked.LastError().find("other.txt"), std::string::npos);
    std::filesystem::remove(folder + "/other.txt");
    EXPECT_TRUE(blocked.Append({2026, 12, 7, 1, 0, 0, 1}, "y"));
    EXPECT_EQ(FileContents(folder + "/other.txt/below/modbus-bridge-2026-12-07.txt"), "y\r\n");
}

}  // namespace
