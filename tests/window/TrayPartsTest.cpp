// The tray icon's pictures and the entry that starts the window at login: the entry's texts
// for both platforms (they are only text, so each platform checks both), and the entry written,
// recognised and removed where this platform keeps it (a file in a test folder on Linux, a value
// under a test key of HKEY_CURRENT_USER under wine).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Autostart.h"
#include "AutostartEntry.h"
#include "FileContents.h"
#include "TempFolder.h"
#include "TrayPicture.h"

#ifdef _WIN32
#include <windows.h>

#include "Win32Text.h"
#endif

namespace {

constexpr TTrayPicture kPictures[] = {TTrayPicture::Idle, TTrayPicture::Serving,
                                      TTrayPicture::Failed, TTrayPicture::Asking};

uint32_t PixelAt(const std::vector<uint32_t>& pixels, int size, double x, double y) {
    // (x, y) in the drawing's 64 units.
    const int column = static_cast<int>(x * size / 64);
    const int row = static_cast<int>(y * size / 64);
    return pixels[static_cast<size_t>(row * size + column)];
}

// Each state's mark in its own colour at the lower right, opaque, and nothing else changed: a
// swapped colour, a channel in the wrong byte or a mark on the idle icon shows here.
TEST(TrayPictureTest, EachStateHasItsMarkAndTheRestIsTheProgramsIcon) {
    for (const int size : {16, 24, 32}) {
        const std::vector<uint32_t> idle = TrayPicturePixels(TTrayPicture::Idle, size);
        ASSERT_EQ(idle.size(), static_cast<size_t>(size * size));
        for (const TTrayPicture picture : kPictures) {
            SCOPED_TRACE(std::to_string(size) + " px, picture " +
                         std::to_string(static_cast<int>(picture)));
            const std::vector<uint32_t> pixels = TrayPicturePixels(picture, size);
            const uint32_t mark = PixelAt(pixels, size, 46, 46);
            if (picture == TTrayPicture::Idle) {
                EXPECT_EQ(mark, PixelAt(idle, size, 46, 46));
            } else {
                EXPECT_EQ(mark, 0xFF000000 | TrayMarkColour(picture));
            }
            // The navy field at the upper right and the transparent corner stay the icon's.
            EXPECT_EQ(PixelAt(pixels, size, 50, 8), 0xFF1F3B57);
            EXPECT_EQ(PixelAt(pixels, size, 0, 0) >> 24, 0u);
            EXPECT_EQ(PixelAt(pixels, size, 14, 40), PixelAt(idle, size, 14, 40));
        }
    }
    // Three marks that cannot be told apart would tell nothing.
    EXPECT_NE(TrayMarkColour(TTrayPicture::Serving), TrayMarkColour(TTrayPicture::Failed));
    EXPECT_NE(TrayMarkColour(TTrayPicture::Failed), TrayMarkColour(TTrayPicture::Asking));
    EXPECT_NE(TrayMarkColour(TTrayPicture::Serving), TrayMarkColour(TTrayPicture::Asking));
}

// The desktop reads Exec with two layers of escapes: a path written with one layer too few
// starts another program (or none), and a check that reads it back wrongly shows the wrong
// mark. Each path must come back as itself, and the plain ones read as the desktop expects.
TEST(AutostartEntryTest, XdgEntryStartsExactlyThisProgramWhateverItsPath) {
    const struct {
        std::string Path;
        // The Exec line; empty: only the round trip is checked.
        std::string Exec;
    } rows[] = {
        {"/usr/bin/modbus-bridge", "Exec=\"/usr/bin/modbus-bridge\" --minimized"},
        {"/home/u/my bridge/modbus-bridge", "Exec=\"/home/u/my bridge/modbus-bridge\" --minimized"},
        // A dollar sign, a backslash and a quote need the quoting's escape, doubled by the
        // string's; a per cent sign is doubled so that it is no field code.
        {"/home/u/$HOME\\x/50%/\"q\"/modbus-bridge",
         "Exec=\"/home/u/\\\\$HOME\\\\\\\\x/50%%/\\\\\"q\\\\\"/modbus-bridge\" --minimized"},
        {"/home/u/`id`/modbus-bridge", "Exec=\"/home/u/\\\\`id\\\\`/modbus-bridge\" --minimized"},
        {"/home/Иван/мост/modbus-bridge", "Exec=\"/home/Иван/мост/modbus-bridge\" --minimized"},
        {"/tmp/a\nb\tc;d&e|f<g>h(i)j*k?l#m~n'o/modbus-bridge", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Path);
        const std::string text = XdgAutostartText(row.Path);
        EXPECT_TRUE(text.starts_with("[Desktop Entry]\nType=Application\n")) << text;
        EXPECT_EQ(ProgramOfXdgAutostart(text), row.Path) << text;
        if (!row.Exec.empty()) {
            EXPECT_NE(text.find("\n" + row.Exec + "\n"), std::string::npos) << text;
        }
        // One Exec line, one TryExec line, no raw line break from the path.
        size_t lines = 0;
        for (const char c : text) {
            lines += c == '\n' ? 1 : 0;
        }
        EXPECT_EQ(lines, 10u) << text;
    }
}

// Entries that other hands wrote: the program they start, or none.
TEST(AutostartEntryTest, ProgramsOfEntriesWrittenElsewhere) {
    const struct {
        const char* Text;
        std::optional<std::string> Program;
    } rows[] = {
        {"[Desktop Entry]\nExec=/opt/bridge/modbus-bridge --minimized\n",
         "/opt/bridge/modbus-bridge"},
        {"[Desktop Entry]\r\nExec = \"/opt/my bridge/modbus-bridge\"\r\n",
         "/opt/my bridge/modbus-bridge"},
        // Only the main group counts, and TryExec is no Exec.
        {"[Desktop Entry]\nTryExec=/a\n[Desktop Action x]\nExec=/b\n", std::nullopt},
        {"[Desktop Action x]\nExec=/b\n[Desktop Entry]\nExec=/c\n", "/c"},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(ProgramOfXdgAutostart(row.Text), row.Program);
    }
}

// The Run value: the path quoted (Program Files has a space, and an unquoted path with one
// starts C:\Program.exe where one exists), then the option; read back from the forms people
// write.
TEST(AutostartEntryTest, RunValueQuotesThePathAndReadsBackFromEachForm) {
    EXPECT_EQ(RunValueText("C:\\Program Files\\modbus-bridge\\modbus-bridge.exe"),
              "\"C:\\Program Files\\modbus-bridge\\modbus-bridge.exe\" --minimized");
    const struct {
        const char* Value;
        std::optional<std::string> Program;
    } rows[] = {
        {"\"C:\\Program Files\\modbus-bridge\\modbus-bridge.exe\" --minimized",
         "C:\\Program Files\\modbus-bridge\\modbus-bridge.exe"},
        {"C:\\bridge\\modbus-bridge.exe --minimized", "C:\\bridge\\modbus-bridge.exe"},
        {"  \"C:\\Мост\\modbus-bridge.exe\"", "C:\\Мост\\modbus-bridge.exe"},
        {"\"C:\\unclosed\\modbus-bridge.exe", "C:\\unclosed\\modbus-bridge.exe"},
        {"", std::nullopt},
        {"   ", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Value);
        EXPECT_EQ(ProgramOfRunValue(row.Value), row.Program);
    }
}

// Where the platform keeps the entry: written, recognised as this program's only, replaced by
// another copy's, removed; a removal of nothing is no failure.
TEST(AutostartTest, EnableDisableAndAnotherCopysEntry) {
#ifdef _WIN32
    const std::string place = "Software\\modbus-bridge-tests\\Run";
    const std::string program = "C:\\Мост\\modbus-bridge.exe";
    const std::string other = "C:\\Other\\modbus-bridge.exe";
#else
    const TTempFolder folder("autostart-test");
    // Not there yet: Enable makes the folder.
    const std::string place = folder.Path() + "/config/autostart";
    const std::string program = folder.Path() + "/my bridge/modbus-bridge";
    const std::string other = folder.Path() + "/other/modbus-bridge";
#endif
    TAutostart mine(program, place);
    TAutostart theirs(other, place);
    EXPECT_EQ(mine.Disable(), "");
    EXPECT_FALSE(mine.Enabled());
    ASSERT_EQ(mine.Enable(), "");
    EXPECT_TRUE(mine.Enabled());
    EXPECT_FALSE(theirs.Enabled());
#ifdef _WIN32
    EXPECT_EQ(mine.Where(), "HKEY_CURRENT_USER\\" + place + "\\modbus-bridge");
    wchar_t value[512] = {};
    DWORD bytes = sizeof value;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, WideFromUtf8(place).c_str(), L"modbus-bridge",
                           RRF_RT_REG_SZ, nullptr, value, &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(Utf8FromWide(value), RunValueText(program));
    // Windows names one file in any case.
    EXPECT_TRUE(TAutostart("c:\\мост\\MODBUS-BRIDGE.EXE", place).Enabled());
#else
    EXPECT_EQ(mine.Where(), place + "/modbus-bridge.desktop");
    EXPECT_EQ(FileContents(mine.Where()), XdgAutostartText(program));
#endif
    ASSERT_EQ(theirs.Enable(), "");
    EXPECT_FALSE(mine.Enabled());
    EXPECT_TRUE(theirs.Enabled());
    ASSERT_EQ(theirs.Disable(), "");
    EXPECT_FALSE(theirs.Enabled());
    EXPECT_FALSE(mine.Enabled());
    EXPECT_EQ(theirs.Disable(), "");
#ifdef _WIN32
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\modbus-bridge-tests");
#endif
}

#ifndef _WIN32
// The desktop looks in $XDG_CONFIG_HOME/autostart, or in ~/.config/autostart when that is not
// an absolute path; an entry anywhere else never starts anything.
TEST(AutostartTest, TheSystemsFolderFollowsXdgConfigHome) {
    const char* savedHome = std::getenv("HOME");
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string home = savedHome != nullptr ? savedHome : "";
    const std::optional<std::string> config =
        savedConfig != nullptr ? std::optional<std::string>(savedConfig) : std::nullopt;
    const struct {
        const char* Config;
        const char* Where;
    } rows[] = {
        {"/srv/config", "/srv/config/autostart/modbus-bridge.desktop"},
        {"relative/config", "/home/op/.config/autostart/modbus-bridge.desktop"},
        {nullptr, "/home/op/.config/autostart/modbus-bridge.desktop"},
    };
    setenv("HOME", "/home/op", 1);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Config != nullptr ? row.Config : "unset");
        if (row.Config != nullptr) {
            setenv("XDG_CONFIG_HOME", row.Config, 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        EXPECT_EQ(TAutostart("/usr/bin/modbus-bridge").Where(), row.Where);
    }
    setenv("HOME", home.c_str(), 1);
    if (config) {
        setenv("XDG_CONFIG_HOME", config->c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}
#endif

}  // namespace
