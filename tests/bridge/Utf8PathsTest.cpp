#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "DailyLogFiles.h"
#include "FileContents.h"
#include "IniFile.h"
#include "SettingsPath.h"
#include "TempFolder.h"
#include "Utf8Path.h"

namespace {

namespace fs = std::filesystem;

bool SamePath(const std::string& left, const std::string& right) {
    return Utf8Path(left).lexically_normal() == Utf8Path(right).lexically_normal();
}

// Paths are UTF-8 inside the program on every platform; a user folder named in Cyrillic (as
// C:\Users\Иван) must work for the settings file, the save folder and the day's log files.
TEST(Utf8PathsTest, SettingsAndLogsLiveInFoldersWithCyrillicNames) {
    const TTempFolder temporary("utf8-paths-test");
    ASSERT_FALSE(temporary.Path().empty());
    const std::string home = temporary.Path() + "/Иван/Мост";
    ASSERT_TRUE(fs::create_directories(Utf8Path(home)));

    // A copy in a folder it may write keeps its files beside itself.
    const std::string program = home + "/modbus-bridge.exe";
    const std::string settingsPath = SettingsFilePath(program);
    EXPECT_TRUE(SamePath(settingsPath, home + "/modbus-bridge.ini")) << settingsPath;
    EXPECT_TRUE(SamePath(SaveFolderPath(program), home + "/save")) << SaveFolderPath(program);

    TIniFile settings(settingsPath);
    ASSERT_TRUE(settings.WriteString("Ports", "COM3", "/dev/ttyUSB0")) << settings.LastWriteError();
    ASSERT_TRUE(settings.WriteInteger("Options", "WindowsTop", 120)) << settings.LastWriteError();
    EXPECT_EQ(FileContents(settingsPath),
              "[Ports]\nCOM3=/dev/ttyUSB0\n[Options]\nWindowsTop=120\n");
    const TIniFile reread(settingsPath);
    EXPECT_EQ(reread.ReadInteger("Options", "WindowsTop", 0), 120);

    // Folders on the way are made, also below a Cyrillic name.
    const std::string logs = home + "/журнал/день";
    TDailyLogFiles files(logs, 30);
    ASSERT_TRUE(files.Append({2026, 12, 7, 9, 0, 0, 1}, "09:00:00.001\tСтарт"))
        << files.LastError();
    EXPECT_EQ(FileContents(logs + "/modbus-bridge-2026-12-07.txt"),
              "09:00:00.001\t\xD1\xF2\xE0\xF0\xF2\r\n");
}

}  // namespace
