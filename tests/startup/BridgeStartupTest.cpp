// The one start-up of every bridge program, against a host that records its lines, on Linux (Qt's
// event loop) and under wine (the thread's message loop). What a page meets afterwards is the
// end-to-end tests' and the window tests' subject, against both programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BridgeServer.h"
#include "BridgeStartup.h"
#include "ListenSocket.h"
#include "RecordingHost.h"
#include "TempFolder.h"
#include "TestEventLoop.h"
#include "Utf8Path.h"

namespace {

using TLine = TRecordingHost::TLine;

// Where the server listens or why it does not, then the shell's own lines, then the settings
// that could not be read, then the risky ones: one order for every shell. A taken port gives a
// shell that runs on (the window) the start lines and the line that says why, naming the holder
// where the shell knows it, and a shell that ends (modbus-bridged) no line at all. The faults: a
// program whose log no longer begins as its users know it, a window that starts with a silent
// log, modbus-bridged printing a start it never made.
TEST(BridgeStartupTest, TheStartLinesComeInOneOrderAndATakenPortAsTheShellWants) {
    const TTempFolder folder("bridge-startup");
    const std::string settingsPath = folder.Path() + "/bridge.ini";
    std::ofstream(Utf8Path(settingsPath), std::ios::binary)
        << "[Options]\nViewError=1\n[Server]\nListen=everywhere\nOrigins=any\n";
    TRecordingHost first;
    TBridgeStartup holder(settingsPath);
    TBridgeShell firstShell;
    firstShell.Port = 0;
    ASSERT_EQ(holder.Start(first, firstShell).Result, TStartResult::Serving);
    const uint16_t taken = holder.ListeningPort();
    const std::string port = std::to_string(taken);
    const std::string noServer = "Сервер не запущен, запросы страниц не принимаются: порт " + port;

    const struct {
        const char* Name;
        uint16_t Port;
        bool LinesWithoutServer;
        std::string Holder;
        TStartResult Result;
        // The line after the start lines; none for no lines at all.
        std::string Where;
    } cases[] = {
        {"serving", 0, false, "", TStartResult::Serving, "Сервер слушает порт "},
        {"taken, the shell ends", taken, false, "", TStartResult::NoServer, ""},
        {"taken, the shell ends, the holder known", taken, false, "modbus-bridged",
         TStartResult::NoServer, ""},
        {"taken, the shell runs on", taken, true, "", TStartResult::NoServer,
         noServer + " занят другой программой (<reason>); какой, покажет " + kPortHolderCommand},
        {"taken, the holder known", taken, true, "modbus-bridge (окно)", TStartResult::NoServer,
         noServer + " занят программой modbus-bridge (окно) (<reason>)"},
    };
    for (const auto& start : cases) {
        SCOPED_TRACE(start.Name);
        TBridgeStartup startup(settingsPath);
        TRecordingHost host;
        host.Error = startup.ViewOptions().Error;
        TBridgeShell shell;
        shell.Port = start.Port;
        shell.StartLinesWithoutServer = start.LinesWithoutServer;
        shell.ShellLines = {"daily files", "more"};
        std::vector<uint16_t> asked;
        if (!start.Holder.empty()) {
            shell.PortHolder = [&asked, &start](uint16_t asking) {
                asked.push_back(asking);
                return start.Holder;
            };
        }
        const TStartOutcome outcome = startup.Start(host, shell);
        EXPECT_EQ(outcome.Result, start.Result) << outcome.Reason;
        std::vector<TLine> expected;
        if (!start.Where.empty()) {
            std::string where = start.Where;
            if (const size_t reason = where.find("<reason>"); reason != std::string::npos) {
                where.replace(reason, 8, outcome.Reason);
            }
            expected = {{TLogKind::Date, ""},
                        {TLogKind::Info, "RAVO Duridur - Modbus демонстрационный мост"},
                        {TLogKind::Info, "Показывать Только ошибки: Включено"},
                        {TLogKind::Info, "Старт"},
                        {TLogKind::Info, std::string(48, '-')},
                        {outcome.Result == TStartResult::Serving ? TLogKind::Info : TLogKind::Error,
                         where}};
            if (outcome.Result == TStartResult::Serving) {
                const std::string listening = std::to_string(startup.ListeningPort());
                expected.push_back(
                    {TLogKind::Info, "Страница моста: http://localhost:" + listening + "/demo/"});
            }
            expected.insert(
                expected.end(),
                {{TLogKind::Info, "daily files"},
                 {TLogKind::Info, "more"},
                 {TLogKind::Error,
                  "Настройка Listen=everywhere не понята, принято Listen=loopback"},
                 {TLogKind::Error,
                  "Настройка Origins=any: любой сайт, открытый в браузере на этом компьютере, "
                  "может управлять устройствами через мост"}});
        } else {
            // The one line that a shell which ends prints: the holder as the window's log has it.
            EXPECT_TRUE(outcome.Reason.starts_with(
                noServer + (start.Holder.empty() ? " занят другой программой ("
                                                 : " занят программой " + start.Holder)))
                << outcome.Reason;
            EXPECT_NE(outcome.Reason.find("on API 'bind'"), std::string::npos) << outcome.Reason;
        }
        std::vector<TLine> lines = host.Lines();
        // The listening line's addresses are the machine's.
        if (lines.size() > 5 && lines[5].Text.starts_with(start.Where) &&
            outcome.Result == TStartResult::Serving) {
            lines[5].Text = start.Where;
        }
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(asked,
                  start.Holder.empty() ? std::vector<uint16_t>{} : std::vector<uint16_t>{taken});
    }
}

// [Origins] read again while the server runs, each step after the one before: the sites that
// the file allows now, with its problems and risks; a folder in the file's place keeps the list
// (and the start said at once that the file could not be read); a file that is gone reads as an
// empty list, as a restart would. The faults: a list that is not replaced, a failed read that
// empties the list or passes for a success, a count of all sites rather than the allowed ones.
TEST(BridgeStartupTest, TheSitesAreReadAgainAndAnUnreadableFileKeepsThem) {
    const TTempFolder folder("bridge-reload");
    const std::string settingsPath = folder.Path() + "/bridge.ini";
    std::filesystem::create_directory(Utf8Path(settingsPath));
    TBridgeStartup startup(settingsPath);
    TRecordingHost host;
    TBridgeShell shell;
    shell.Port = 0;
    ASSERT_EQ(startup.Start(host, shell).Result, TStartResult::Serving);
    const std::string unreadable = "Файл настроек не прочитан, действуют настройки по умолчанию: ";
    ASSERT_FALSE(host.Lines().empty());
    EXPECT_TRUE(host.Lines().back().Text.starts_with(unreadable + "read " + settingsPath) ||
                host.Lines().back().Text == unreadable + "open " + settingsPath + ": is a folder")
        << host.Lines().back().Text;

    const std::string reread =
        "Список сайтов перечитан из " + settingsPath + ": разрешено сайтов: ";
    const std::string kept = "Список сайтов не перечитан, действует прежний (разрешено сайтов: ";
    const char* const folderInPlace = "";
    const struct {
        // Written as the file; folderInPlace puts a folder there, nullptr removes it.
        const char* Content;
        size_t Allowed;
        std::vector<TLine> Lines;
    } steps[] = {
        {"[Origins]\nhttps://a.example=1\nhttps://b.example=1\nhttps://c.example=0\n",
         2,
         {{TLogKind::Info, reread + "2"}}},
        {"[Server]\nOrigins=any\n[Origins]\nhttps://B.example=1\nhttps://c.example=x\nnull=1\n",
         2,
         {{TLogKind::Info, reread + "2"},
          {TLogKind::Error,
           "Настройка https://c.example=x в разделе Origins не понята, источник запрещён"},
          {TLogKind::Error,
           "Настройка null=1 в разделе Origins: любой сайт, открытый в браузере на этом "
           "компьютере, может управлять устройствами через мост из изолированного фрейма "
           "(sandbox), который посылает Origin: null"}}},
        {folderInPlace, 2, {{TLogKind::Error, kept + "2): "}}},
        {nullptr, 0, {{TLogKind::Info, reread + "0"}}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Content == nullptr ? "(removed)" : step.Content);
        std::filesystem::remove_all(Utf8Path(settingsPath));
        if (step.Content == folderInPlace) {
            std::filesystem::create_directory(Utf8Path(settingsPath));
        } else if (step.Content != nullptr) {
            std::ofstream(Utf8Path(settingsPath), std::ios::binary) << step.Content;
        }
        const size_t before = host.Lines().size();
        startup.ReloadOrigins(host);
        std::vector<TLine> lines = host.Lines();
        lines.erase(lines.begin(), lines.begin() + static_cast<ptrdiff_t>(before));
        // The system's reason for the failed read.
        if (step.Content == folderInPlace && lines.size() == 1 &&
            lines[0].Text.find(settingsPath) != std::string::npos) {
            lines[0].Text.resize(lines[0].Text.find("): ") + 3);
        }
        EXPECT_EQ(lines, step.Lines);
        EXPECT_EQ(startup.Server()->AllowedOrigins(), step.Allowed);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const TTestEventLoop eventLoop(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
