// The one start-up of every bridge program, against a host that records its lines, on Linux (Qt's
// event loop) and under wine (the thread's message loop). What a page meets afterwards is the
// end-to-end tests' and the window tests' subject, against both programs.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

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

}  // namespace

int main(int argc, char* argv[]) {
    const TTestEventLoop eventLoop(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
