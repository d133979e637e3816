#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "AccessSettings.h"
#include "Comp32.h"
#include "FileContents.h"
#include "FileReplace.h"
#include "IniFile.h"
#include "LinkStatus.h"
#include "LogLine.h"
#include "Lookups.h"
#include "PortMap.h"
#include "SerialIo.h"
#include "TempFolder.h"

namespace {

TEST(ParseSettingsIntegerTest, DecimalOrHexadecimalWithin32Bits) {
    const std::pair<const char*, std::optional<int32_t>> rows[] = {
        {"100", 100},
        {"-5", -5},
        {"+7", 7},
        {"0", 0},
        {"0x64", 100},
        {"0X1f", 31},
        {"-0x10", -16},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"0x80000000", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"1e2", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"0x", std::nullopt},
        {"0x-5", std::nullopt},
        {"+-5", std::nullopt},
        {"12abc", std::nullopt},
        {"1.0", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
    };
    for (const auto& [text, expected] : rows) {
        int32_t value = 12345;
        const bool parsed = ParseSettingsInteger(text, value);
        EXPECT_EQ(parsed, expected.has_value()) << '"' << text << '"';
        // A failed parse leaves the value alone.
        EXPECT_EQ(value, expected.value_or(12345)) << '"' << text << '"';
    }
}

TEST(IniFileTest, SectionsKeysAndValues) {
    TIniFile ini;
    ini.LoadText(
        "; a comment\r\n"
        "# another\r\n"
        "[Main]\r\n"
        "Name = bridge one \r\n"
        "a=b=c\r\n"
        "Port=19284\r\n"
        "Spaced =  5\r\n"
        "Repeated=first\r\n"
        "NoEquals\r\n"
        "  [ View ]\r\n"
        "Hex=1\r\n"
        "Repeated=other section\r\n"
        "[main]\n"
        "Repeated=last\n"
        ";Port=1\n"
        "#Hex=0");
    EXPECT_EQ(ini.ReadString("Main", "Name", "-"), "bridge one");
    EXPECT_EQ(ini.ReadString("MAIN", "name", "-"), "bridge one");
    EXPECT_EQ(ini.ReadString("Main", "A", "-"), "b=c");
    EXPECT_EQ(ini.ReadInteger("main", "PORT", 0), 19284);
    EXPECT_EQ(ini.ReadInteger("Main", "Spaced", 0), 5);
    EXPECT_EQ(ini.ReadString("Main", "Repeated", "-"), "last");
    EXPECT_EQ(ini.ReadString("view", "repeated", "-"), "other section");
    EXPECT_TRUE(ini.ReadBool("View", "Hex", false));
    EXPECT_FALSE(ini.HasValue("Main", "NoEquals"));
    EXPECT_FALSE(ini.HasValue("Main", ";Port"));
    EXPECT_FALSE(ini.HasValue("View", "#Hex"));
    EXPECT_FALSE(ini.HasValue("Main", "Missing"));
    EXPECT_EQ(ini.ReadString("Main", "Missing", "fallback"), "fallback");
    EXPECT_EQ(ini.ReadInteger("Other", "Port", -1), -1);
    EXPECT_EQ(ini.Keys("MAIN"),
              (std::vector<std::string>{"Name", "a", "Port", "Spaced", "Repeated", "Repeated"}));
    EXPECT_EQ(ini.Keys("View"), (std::vector<std::string>{"Hex", "Repeated"}));
    EXPECT_TRUE(ini.Keys("None").empty());
}

// Settings are annotated as in the README: a ';' after blanks starts a comment, in every section.
TEST(IniFileTest, ACommentBehindAValueIsNotPartOfIt) {
    TIniFile ini;
    ini.LoadText(
        "[Options]   ; view\n"
        "ViewSet=1       ; log the connection parameters\n"
        "ViewHex=1\t; tab before the comment\r\n"
        "LogFolder=/var/log/bridge ;\n"
        "[Ports]\n"
        "COM1=/tmp/modbus-sim-port   ; the simulator\n"
        "COM2=/dev/odd;name\n"
        "COM3= ; nothing but a comment\n"
        "[Server]\n"
        "Origins=list ; only listed pages\n"
        "UnmappedPorts=deny;no blank, so part of the value\n"
        "Key=semi;colon ; the key is semi;colon\n"
        "ReadOnlyPorts=COM2 ;, COM5\n"
        "[Origins]\n"
        "https://scada.example=1 ; the plant's page\n");
    EXPECT_TRUE(ini.ReadBool("Options", "ViewSet", false));
    EXPECT_TRUE(ini.ReadBool("Options", "ViewHex", false));
    EXPECT_EQ(ini.ReadString("Options", "LogFolder", ""), "/var/log/bridge");

    TComp32 port;
    ApplyPortMap(ini, port);
    EXPECT_EQ(port.PortPath(1), "/tmp/modbus-sim-port");
    EXPECT_EQ(port.PortPath(2), "/dev/odd;name");
    EXPECT_EQ(port.PortPath(3), PlatformPortPath(3));

    const TAccessSettings access = ReadAccessSettings(ini);
    EXPECT_EQ(access.Origins, TOriginMode::List);
    EXPECT_EQ(access.Key, "semi;colon");
    EXPECT_EQ(access.Ports.ReadOnly.count(), 1U);
    EXPECT_TRUE(access.Ports.ReadOnly.test(2));
    EXPECT_EQ(access.OriginDecisions,
              (std::map<std::string, bool>{{"https://scada.example", true}}));
    EXPECT_EQ(access.Problems,
              std::vector<std::string>{"Настройка UnmappedPorts=deny;no blank, so part of the "
                                       "value не понята, принято UnmappedPorts=deny"});
}

TEST(IniFileTest, ReadBoolIsOnForAnyNonZeroInteger) {
    TIniFile ini;
    ini.LoadText("[V]\nOne=1\nZero=0\nFive=5\nHex=0x0\nText=x\nEmpty=\n");
    for (const bool fallback : {false, true}) {
        EXPECT_TRUE(ini.ReadBool("V", "One", fallback));
        EXPECT_FALSE(ini.ReadBool("V", "Zero", fallback));
        EXPECT_TRUE(ini.ReadBool("V", "Five", fallback));
        EXPECT_FALSE(ini.ReadBool("V", "Hex", fallback));
        EXPECT_EQ(ini.ReadBool("V", "Text", fallback), fallback);
        EXPECT_EQ(ini.ReadBool("V", "Empty", fallback), fallback);
        EXPECT_EQ(ini.ReadBool("V", "Absent", fallback), fallback);
    }
}

TEST(IniFileTest, LoadTextReplacesWhatWasRead) {
    TIniFile ini;
    ini.LoadText("[A]\nx=1\n");
    ini.LoadText("[B]\ny=2\n");
    EXPECT_FALSE(ini.HasValue("A", "x"));
    EXPECT_EQ(ini.ReadInteger("B", "y", 0), 2);
}

// A site or a port taken off its list: every line of its key goes, whatever its case (a repeated
// key left behind would come back), and nothing else: the key in another section, comments,
// line ends.
TEST(IniFileTest, RemovingAKeyTakesEachOfItsLinesAndNothingElse) {
    const struct {
        const char* Text;
        const char* Section;
        const char* Key;
        const char* Left;
    } cases[] = {
        {"[Origins]\r\nhttps://a.example=1\r\n; note\r\nhttps://b.example=0\r\n", "origins",
         "HTTPS://A.example", "[Origins]\r\n; note\r\nhttps://b.example=0\r\n"},
        {"[Origins]\nhttps://a.example=1\n[Other]\nhttps://a.example=1\n[origins]\n"
         "https://a.example=0 ; again\n",
         "Origins", "https://a.example", "[Origins]\n[Other]\nhttps://a.example=1\n[origins]\n"},
        {"[Origins]\nhttps://b.example=1\n", "Origins", "https://a.example",
         "[Origins]\nhttps://b.example=1\n"},
    };
    for (const auto& each : cases) {
        TIniFile ini;
        ini.LoadText(each.Text);
        ini.RemoveKey(each.Section, each.Key);
        EXPECT_EQ(ini.Text(), each.Left) << each.Text;
        EXPECT_FALSE(ini.HasValue(each.Section, each.Key));
    }
}

// A settings file in a folder of its own, removed with it.
class TSettingsFolder {
public:
    TSettingsFolder() : Folder("settings-test") {}
    std::string File(const std::string& name) const { return Folder.Path() + "/" + name; }

private:
    TTempFolder Folder;
};

TEST(IniFileWriteTest, ChangesOnlyItsLineAndReachesTheFileAtOnce) {
    const TSettingsFolder folder;
    const std::string path = folder.File("bridge.ini");
    std::ofstream(path, std::ios::binary)
        << "; by hand\n[Ports]\nCOM3=/dev/ttyUSB0\n\n[options]\nviewset=0\nWindowsTop=0x64\n";
    TIniFile settings(path);

    ASSERT_TRUE(settings.WriteBool("Options", "ViewSet", true));
    ASSERT_TRUE(settings.WriteInteger("Options", "WindowsLeft", -20));
    ASSERT_TRUE(settings.WriteString("Extra", "Name", "a=b"));
    EXPECT_EQ(FileContents(path),
              "; by hand\n[Ports]\nCOM3=/dev/ttyUSB0\n\n[options]\nviewset=1\nWindowsTop=0x64\n"
              "WindowsLeft=-20\n[Extra]\nName=a=b\n");
    const TIniFile reread(path);
    EXPECT_TRUE(reread.ReadBool("Options", "ViewSet", false));
    EXPECT_EQ(reread.ReadInteger("Options", "WindowsLeft", 0), -20);
    EXPECT_EQ(reread.ReadString("Extra", "Name", ""), "a=b");
}

// What the window writes back stays readable by copies that take all after "=" as the value:
// a comment behind a value it sets moves to a line of its own above it.
TEST(IniFileWriteTest, ACommentBehindASetValueMovesAboveIt) {
    const TSettingsFolder folder;
    const std::string path = folder.File("bridge.ini");
    std::ofstream(path, std::ios::binary)
        << "[Options]\r\nViewSet=1       ; log the parameters\r\nViewHex=0\t; frames\r\n"
           "ViewError=0 ; untouched\r\n";
    TIniFile settings(path);
    settings.SetBool("Options", "ViewSet", false);
    settings.SetBool("Options", "ViewHex", false);
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(FileContents(path),
              "[Options]\r\n; log the parameters\r\nViewSet=0\r\n; frames\r\nViewHex=0\r\n"
              "ViewError=0 ; untouched\r\n");
    EXPECT_FALSE(TIniFile(path).ReadBool("Options", "ViewSet", true));
}

// Each write replaces the file and waits for the disk: changes are kept in memory until Save,
// which writes them all at once, and writes nothing when nothing changed.
TEST(IniFileWriteTest, SetValuesReachTheFileInOneSaveAndOnlyWhenChanged) {
    const TSettingsFolder folder;
    const std::string path = folder.File("bridge.ini");
    const std::string before = "[Options]\nViewSet=1\nWindowsTop=100\n";
    std::ofstream(path, std::ios::binary) << before;
    TIniFile settings(path);
    // A line added behind the object's back survives only while the object does not write.
    const std::string touched = before + "; touched\n";
    std::ofstream(path, std::ios::binary) << touched;
    settings.SetBool("Options", "ViewSet", true);
    settings.SetInteger("Options", "WindowsTop", 100);
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(FileContents(path), touched) << "nothing changed, yet the file was written";

    settings.SetInteger("Options", "WindowsTop", 120);
    settings.SetBool("Options", "ViewHex", true);
    EXPECT_EQ(FileContents(path), touched);
    ASSERT_TRUE(settings.Save());
    const std::string saved = "[Options]\nViewSet=1\nWindowsTop=120\nViewHex=1\n";
    EXPECT_EQ(FileContents(path), saved);
    std::ofstream(path, std::ios::binary) << saved + "; touched\n";
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(FileContents(path), saved + "; touched\n");
}

TEST(IniFileWriteTest, NewFileAndCrLfLineEnds) {
    const TSettingsFolder folder;
    const std::string fresh = folder.File("fresh.ini");
    TIniFile created(fresh);
    ASSERT_TRUE(created.WriteInteger("Options", "WindowsTop", 100));
    EXPECT_EQ(FileContents(fresh), "[Options]\nWindowsTop=100\n");

    const std::string windows = folder.File("windows.ini");
    std::ofstream(windows, std::ios::binary) << "[Options]\r\nViewHex=0\r\n";
    TIniFile settings(windows);
    ASSERT_TRUE(settings.WriteBool("Options", "ViewHex", true));
    ASSERT_TRUE(settings.WriteBool("Options", "ViewError", false));
    EXPECT_EQ(FileContents(windows), "[Options]\r\nViewHex=1\r\nViewError=0\r\n");
}

TEST(IniFileWriteTest, MissingFoldersAreCreatedAndAFailureIsReported) {
    const TSettingsFolder folder;
    // A fresh home has no configuration folder yet.
    const std::string nested = folder.File("home/.config/modbus-bridge/modbus-bridge.ini");
    TIniFile created(nested);
    ASSERT_TRUE(created.WriteBool("Options", "ViewSet", true)) << created.LastWriteError();
    EXPECT_EQ(FileContents(nested), "[Options]\nViewSet=1\n");

    // Not even root can make a folder below a plain file.
    std::ofstream(folder.File("plain"));
    TIniFile blocked(folder.File("plain/bridge.ini"));
    EXPECT_FALSE(blocked.WriteBool("Options", "ViewSet", true));
    EXPECT_NE(blocked.LastWriteError().find("plain"), std::string::npos);
    EXPECT_TRUE(blocked.ReadBool("Options", "ViewSet", false));
}

TEST(IniFileWriteTest, TheFileIsReplacedWholeKeepingModeLinkAndNoLeftovers) {
    const TSettingsFolder folder;
    const std::string path = folder.File("bridge.ini");
    std::ofstream(path, std::ios::binary) << "[Ports]\r\nCOM1=/dev/ttyUSB0\r\n";
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::string link = folder.File("link.ini");
    std::filesystem::create_symlink("bridge.ini", link);

    TIniFile settings(link);
    ASSERT_TRUE(settings.WriteInteger("Options", "WindowsTop", 5));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(FileContents(path), "[Ports]\r\nCOM1=/dev/ttyUSB0\r\n[Options]\r\nWindowsTop=5\r\n");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(folder.File(""))) {
        ++entries;
    }
    EXPECT_EQ(entries, 2u) << "a temporary file was left behind";
}

TEST(IniFileWriteTest, AReaderSeesTheOldOrTheNewFileNeverPartOfOne) {
    const TSettingsFolder folder;
    const std::string path = folder.File("bridge.ini");
    // Long enough that writing in place is seen half done.
    std::string padding(256 * 1024, 'x');
    TIniFile settings(path);
    ASSERT_TRUE(settings.WriteString("Notes", "Padding", padding));
    ASSERT_TRUE(settings.WriteInteger("Options", "Counter", 0));
    const size_t wholeSize = FileContents(path).size();

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    std::atomic<int> refused{0};
    // Other copies of the program reading the settings all the time, between them keeping the
    // file open almost always: on Windows, where an open file cannot be replaced, they must
    // neither starve the writer nor find the file missing.
    const auto readAgainAndAgain = [&] {
        while (!done) {
            std::string seen;
            std::string error;
            if (ReadFileContent(path, seen, error) != TFileRead::Read) {
                ++refused;
                continue;
            }
            ++reads;
            const TIniFile parsed = [&] {
                TIniFile text;
                text.LoadText(seen);
                return text;
            }();
            if (seen.size() < wholeSize || parsed.ReadString("Notes", "Padding", "") != padding ||
                !parsed.HasValue("Options", "Counter")) {
                ++torn;
            }
        }
    };
    std::vector<std::thread> readers;
    for (int reader = 0; reader < 3; ++reader) {
        readers.emplace_back(readAgainAndAgain);
    }
    std::string failedWrite;
    for (int32_t counter = 1; counter <= 200 && failedWrite.empty(); ++counter) {
        if (!settings.WriteInteger("Options", "Counter", counter % 10)) {
            failedWrite = "write " + std::to_string(counter) + ": " + settings.LastWriteError();
        }
    }
    done = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(failedWrite, "");
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_EQ(refused.load(), 0) << "of " << reads.load() << " reads";
}

TEST(PortMapTest, MapsComNumbersFromThePortsSection) {
    TIniFile ini;
    ini.LoadText(
        "[Ports]\n"
        "COM3=/dev/ttyUSB0\n"
        "com7 = /dev/ttyACM1\n"
        "COM255=/dev/last\n"
        "Com9=/dev/mixed-case\n"
        "COM0=/dev/zero-port\n"
        "COM256=/dev/too-far\n"
        "COMx=/dev/letters\n"
        "COM-1=/dev/negative\n"
        "COM4=\n"
        "Port5=/dev/other\n"
        "[Other]\n"
        "COM6=/dev/elsewhere\n");
    TComp32 port;
    ApplyPortMap(ini, port);
    EXPECT_EQ(port.PortPath(3), "/dev/ttyUSB0");
    EXPECT_EQ(port.PortPath(7), "/dev/ttyACM1");
    EXPECT_EQ(port.PortPath(255), "/dev/last");
    EXPECT_EQ(port.PortPath(9), "/dev/mixed-case");
    EXPECT_EQ(port.PortPath(0), "");
    EXPECT_EQ(port.PortPath(2), PlatformPortPath(2));
    EXPECT_EQ(port.PortPath(4), PlatformPortPath(4));
    EXPECT_EQ(port.PortPath(5), PlatformPortPath(5));
    EXPECT_EQ(port.PortPath(6), PlatformPortPath(6));
    // 256 must not wrap round to port 0 or 1.
    EXPECT_EQ(port.PortPath(1), PlatformPortPath(1));
}

TEST(LogLineTest, TimeStampAndDateLine) {
    EXPECT_EQ(FormatTimeStamp({.Hour = 9, .Minute = 5, .Second = 3, .Millisecond = 7}),
              "09:05:03.007");
    EXPECT_EQ(FormatTimeStamp({.Hour = 23, .Minute = 59, .Second = 59, .Millisecond = 999}),
              "23:59:59.999");
    const TLocalTime evening{.Year = 2026,
                             .Month = 12,
                             .Day = 6,
                             .Hour = 16,
                             .Minute = 48,
                             .Second = 29,
                             .Millisecond = 512};
    EXPECT_EQ(FormatDateLine(evening), "06-12-2026 16:48:29");
    EXPECT_EQ(FormatLogLine(TLogKind::Date, evening, "ignored"), "06-12-2026 16:48:29");
}

TEST(LogLineTest, PrefixByKind) {
    const TLocalTime time{.Hour = 16, .Minute = 48, .Second = 29, .Millisecond = 5};
    const std::pair<TLogKind, const char*> rows[] = {
        {TLogKind::Send, "16:48:29.005\t>> 01 03"}, {TLogKind::Receive, "16:48:29.005\t<< 01 03"},
        {TLogKind::Info, "16:48:29.005\t01 03"},    {TLogKind::Error, "16:48:29.005\t01 03"},
        {TLogKind::Notice, "16:48:29.005\t01 03"},
    };
    for (const auto& [kind, line] : rows) {
        EXPECT_EQ(FormatLogLine(kind, time, "01 03"), line) << static_cast<int>(kind);
    }
    EXPECT_EQ(FormatLogLine(TLogKind::Info, time, ""), "16:48:29.005\t");
    EXPECT_EQ(FormatLogLine(TLogKind::Info, time, "a\r\nb"), "16:48:29.005\ta\r\nb");
}

TEST(LogLineTest, ViewOptionLines) {
    // Spelt as bytes: the letters of "НЕХ" must be Cyrillic, which no font shows.
    EXPECT_EQ(ViewOptionLine(LogText::kViewHexLine, true),
              "\xD0\x9F\xD0\xBE\xD0\xBA\xD0\xB0\xD0\xB7\xD1\x8B\xD0\xB2\xD0\xB0\xD1\x82\xD1\x8C "
              "\xD0\x9D\xD0\x95\xD0\xA5 \xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5: "
              "\xD0\x92\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87\xD0\xB5\xD0\xBD\xD0\xBE");
    EXPECT_EQ(ViewOptionLine(LogText::kViewErrorLine, false),
              "Показывать Только ошибки: Отключено");
}

TEST(LinkStatusTest, PanelTextsOrNothing) {
    EXPECT_EQ(LinkStatusTexts(1, 1, 3, 19200),
              (std::array<std::string, 4>{"COM1", "ADDR 1", "19200 бод", DeviceName(3)}));
    EXPECT_EQ(LinkStatusTexts(255, 247, 3, 115200),
              (std::array<std::string, 4>{"COM255", "ADDR 247", "115200 бод", DeviceName(3)}));
    const std::array<std::string, 4> empty{};
    EXPECT_EQ(LinkStatusTexts(0, 1, 3, 19200), empty);
    EXPECT_EQ(LinkStatusTexts(1, 0, 3, 19200), empty);
    EXPECT_EQ(LinkStatusTexts(1, 1, 0, 19200), empty);
    EXPECT_EQ(LinkStatusTexts(1, 1, 3, 0), empty);
}

}  // namespace
