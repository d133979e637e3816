// The day's log file on a full disk (Linux: a file-size limit on this process stands in for it).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <system_error>

#include "DailyLogFiles.h"
#include "FileContents.h"

namespace {

// The disk fills up while a line is written: a file-size limit on this process stands in for it
// (SIGXFSZ ignored, so the write fails with EFBIG as a full disk fails with ENOSPC).
TEST(DailyLogFilesTest, AFullDiskCostsTheLinesOfItsTimeOnlyAndNoHalfLine) {
    char pattern[] = "/tmp/daily-log-full-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string path = folder + "/modbus-bridge-2026-03-02.txt";
    const TLocalTime noon{2026, 3, 2, 12, 0, 0, 0};
    TDailyLogFiles files(folder, 30);
    ASSERT_TRUE(files.Append(noon, "first"));

    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct TRestore {
        rlimit Limit;
        void (*Handler)(int);
        ~TRestore() {
            setrlimit(RLIMIT_FSIZE, &Limit);
            std::signal(SIGXFSZ, Handler);
        }
    } restore{original, previousHandler};
    rlimit full = original;
    // Room for four bytes of the next line.
    full.rlim_cur = std::string("first\r\n").size() + 4;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);

    EXPECT_FALSE(files.Append(noon, "second, lost"));
    EXPECT_EQ(files.LastError(),
              "write " + path + ": " + std::error_code(EFBIG, std::generic_category()).message());
    EXPECT_FALSE(files.Append(noon, "third, lost"));
    EXPECT_EQ(FileContents(path), "first\r\n");

    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &original), 0);
    EXPECT_TRUE(files.Append(noon, "fourth"));
    EXPECT_TRUE(files.Append(noon, "fifth"));
    EXPECT_EQ(FileContents(path), "first\r\nfourth\r\nfifth\r\n");
    std::filesystem::remove_all(folder);
}

}  // namespace
