#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "SerialIo.h"
#include "SettingsPath.h"

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Unmapped numbers name the COM devices of Windows.
TEST(PlatformPortPathTest, ComNumbersAreComDevices) {
    EXPECT_EQ(PlatformPortPath(1), "\\\\.\\COM1");
    EXPECT_EQ(PlatformPortPath(255), "\\\\.\\COM255");
}

// An installed copy (below Program Files) keeps its settings per user, in the roaming
// application data, even where an administrator could write beside it.
TEST(Win32SettingsPathTest, AnInstalledCopyKeepsItsFilesPerUser) {
    const std::string appData = Environment("APPDATA");
    ASSERT_FALSE(appData.empty());
    const std::string installed =
        Environment("ProgramFiles") + "\\modbus-bridge\\modbus-bridge.exe";
    EXPECT_EQ(SettingsFilePath(installed), appData + "\\modbus-bridge\\modbus-bridge.ini");
    const std::string save = SaveFolderPath(installed);
    EXPECT_EQ(save.rfind("\\modbus-bridge"), save.size() - 14) << save;
    EXPECT_EQ(save.find(Environment("ProgramFiles")), std::string::npos) << save;
}

}  // namespace
