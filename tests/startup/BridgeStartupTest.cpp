// The one start-up of every bridge program, against a host that records its lines: which lines
// begin the log in which order, what a taken port gives each kind of shell, who is asked about a
// new page, and that a shutdown frees the port. The same cases on Linux (Qt's event loop) and
// under wine (the thread's message loop).
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BridgeStartup.h"
#include "HttpClient.h"
#include "LogLine.h"
#include "NoServerLine.h"
#include "RecordingHost.h"
#include "TempFolder.h"
#include "TestEventLoop.h"
#include "Utf8Path.h"

namespace {

using TLine = TRecordingHost::TLine;

const std::string kSeparator(48, '-');
const std::string kRisky = "[Server]\nListen=everywhere\nOrigins=any\n[Origins]\nnull=1\n";
const std::string kOriginsAny =
    "Настройка Origins=any: любой сайт, открытый в браузере на этом компьютере, может управлять "
    "устройствами через мост";
const std::string kNullAllowed =
    "Настройка null=1 в разделе Origins: любой сайт, открытый в браузере на этом компьютере, может "
    "управлять устройствами через мост из изолированного фрейма (sandbox), который посылает "
    "Origin: null";
const std::string kListenNotUnderstood =
    "Настройка Listen=everywhere не понята, принято Listen=loopback";

// A start-up with its settings file in a folder of its own.
struct TStart {
    explicit TStart(const std::string& settings) : Folder("bridge-startup") {
        const std::string path = Folder.Path() + "/bridge.ini";
        std::ofstream(Utf8Path(path), std::ios::binary) << settings;
        Startup = std::make_unique<TBridgeStartup>(path);
        const TViewOptions options = Startup->ViewOptions();
        Host.Error = options.Error;
        Host.Set = options.Set;
        Host.Hex = options.Hex;
    }

    TTempFolder Folder;
    TRecordingHost Host;
    std::unique_ptr<TBridgeStartup> Startup;
};

std::vector<TLine> StartLines(bool errorsOnly = false) {
    std::vector<TLine> lines = {
        {TLogKind::Date, ""},
        {TLogKind::Info, "RAVO Duridur - Modbus демонстрационный мост"},
        {TLogKind::Info, errorsOnly ? "Показывать Только ошибки: Включено"
                                    : "Показывать Только ошибки: Отключено"}};
    if (!errorsOnly) {
        lines.push_back({TLogKind::Info, "Показывать Параметры связи: Отключено"});
        lines.push_back({TLogKind::Info, "Показывать НЕХ данные: Отключено"});
    }
    lines.push_back({TLogKind::Info, "Старт"});
    lines.push_back({TLogKind::Info, kSeparator});
    return lines;
}

// The lines of a start-up that listens, as they follow the start lines.
std::vector<TLine> ListeningLines(uint16_t port) {
    return {
        {TLogKind::Info, "<listening>"},
        {TLogKind::Info, "Страница моста: http://localhost:" + std::to_string(port) + "/demo/"}};
}

// The recorded lines, with the listening line (its addresses are the machine's) as "<listening>".
std::vector<TLine> Recorded(const TRecordingHost& host, uint16_t port) {
    std::vector<TLine> lines = host.Lines();
    for (TLine& line : lines) {
        if (line.Text.starts_with("Сервер слушает порт " + std::to_string(port) + " ")) {
            line.Text = "<listening>";
        }
    }
    return lines;
}

std::vector<TLine> Joined(std::vector<TLine> first, const std::vector<TLine>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// The error code of the reply to a page of this origin, asked from another thread while this
// thread's event loop serves the bridge; -1 when no reply came.
int AskFromOrigin(uint16_t port, const std::string& origin) {
    std::atomic<int> code{-2};
    std::thread page([&code, port, origin] { code = ErrorCodeForOrigin(port, origin); });
    const bool replied = RunUntil([&code] { return code != -2; });
    page.join();
    return replied ? code.load() : -1;
}

// Where the server listens, then the shell's own lines, then the settings that could not be
// read, then the risky ones; the view options of the settings file in the start lines. A fault
// here is a program whose log no longer begins as its users and tests know it.
TEST(BridgeStartupTest, TheStartLinesComeInOneOrderForEveryShell) {
    const struct {
        const char* Name;
        std::string Settings;
        std::vector<std::string> ShellLines;
        bool ErrorsOnly;
        std::vector<TLine> After;
    } cases[] = {
        {"defaults", "", {}, false, {}},
        {"errors only, a shell line",
         "[Options]\nViewError=1\n",
         {"daily files"},
         true,
         {{TLogKind::Info, "daily files"}}},
        {"problems and risks",
         kRisky,
         {"daily files", "more"},
         false,
         {{TLogKind::Info, "daily files"},
          {TLogKind::Info, "more"},
          {TLogKind::Error, kListenNotUnderstood},
          {TLogKind::Error, kOriginsAny},
          {TLogKind::Error, kNullAllowed}}},
    };
    for (const auto& start : cases) {
        SCOPED_TRACE(start.Name);
        TStart bridge(start.Settings);
        TBridgeShell shell;
        shell.Port = 0;
        shell.ShellLines = start.ShellLines;
        const TStartOutcome outcome = bridge.Startup->Start(bridge.Host, shell);
        EXPECT_EQ(outcome.Result, TStartResult::Serving) << outcome.Reason;
        const uint16_t port = bridge.Startup->ListeningPort();
        ASSERT_NE(port, 0);
        EXPECT_EQ(Recorded(bridge.Host, port),
                  Joined(Joined(StartLines(start.ErrorsOnly), ListeningLines(port)), start.After));
        // The panels are cleared once, after the lines before them.
        EXPECT_EQ(bridge.Host.StatusCalls(), (std::vector<TRecordingHost::TStatus>{{0, 0, 0, 0}}));
    }
}

// A port that another program holds: a shell that runs on without a server (the window) gets
// the start lines and the line that says why, naming the holder when it knows one; a shell that
// ends (modbus-bridged) gets no line at all and the socket error to report. A fault here is a
// window that starts with a silent log, or modbus-bridged printing a start it never made.
TEST(BridgeStartupTest, ATakenPortIsToldAsTheShellWants) {
    TStart first("");
    TBridgeShell firstShell;
    firstShell.Port = 0;
    ASSERT_EQ(first.Startup->Start(first.Host, firstShell).Result, TStartResult::Serving);
    const uint16_t taken = first.Startup->ListeningPort();
    const std::string port = std::to_string(taken);

    const struct {
        const char* Name;
        bool LinesWithoutServer;
        std::string Holder;
        std::vector<TLine> Lines;
    } cases[] = {
        {"the shell ends", false, "", {}},
        {"the shell runs on", true, "",
         Joined(StartLines(), {{TLogKind::Error, "<taken>"},
                               {TLogKind::Info, "daily files"},
                               {TLogKind::Error, kListenNotUnderstood},
                               {TLogKind::Error, kOriginsAny},
                               {TLogKind::Error, kNullAllowed}})},
        {"the shell knows the holder", true, "modbus-bridge (окно)",
         Joined(StartLines(), {{TLogKind::Error, "<taken by modbus-bridge (окно)>"},
                               {TLogKind::Info, "daily files"},
                               {TLogKind::Error, kListenNotUnderstood},
                               {TLogKind::Error, kOriginsAny},
                               {TLogKind::Error, kNullAllowed}})},
    };
    for (const auto& start : cases) {
        SCOPED_TRACE(start.Name);
        TStart second(kRisky);
        TBridgeShell shell;
        shell.Port = taken;
        shell.StartLinesWithoutServer = start.LinesWithoutServer;
        shell.ShellLines = {"daily files"};
        std::vector<uint16_t> asked;
        if (!start.Holder.empty()) {
            shell.PortHolder = [&asked, &start](uint16_t asking) {
                asked.push_back(asking);
                return start.Holder;
            };
        }
        const TStartOutcome outcome = second.Startup->Start(second.Host, shell);
        EXPECT_EQ(outcome.Result, TStartResult::NoServer);
        EXPECT_NE(outcome.Reason.find("on API 'bind'"), std::string::npos) << outcome.Reason;
        EXPECT_EQ(second.Startup->ListeningPort(), 0);
        std::vector<TLine> expected = start.Lines;
        for (TLine& line : expected) {
            if (line.Text == "<taken>") {
                line.Text = "Сервер не запущен, запросы страниц не принимаются: порт " + port +
                            " занят другой программой (" + outcome.Reason + "); какой, покажет " +
                            kPortHolderCommand;
            } else if (line.Text.starts_with("<taken by ")) {
                line.Text = "Сервер не запущен, запросы страниц не принимаются: порт " + port +
                            " занят программой " + start.Holder + " (" + outcome.Reason + ")";
            }
        }
        EXPECT_EQ(second.Host.Lines(), expected);
        EXPECT_EQ(asked,
                  start.Holder.empty() ? std::vector<uint16_t>{} : std::vector<uint16_t>{taken});
    }
}

// With Origins=ask (the default) a new page is put to whoever the shell can ask, and waits
// (127); a shell with nobody to ask serves the listed origins only, and the page is refused (125)
// rather than left waiting for an answer that never comes. Programs without Origin are served
// either way (109: the request lacks device_id).
TEST(BridgeStartupTest, ANewPageIsAskedAboutOnlyWhereSomeoneCanAnswer) {
    const std::string page = "https://new.example";
    for (const bool canAsk : {true, false}) {
        SCOPED_TRACE(canAsk ? "someone to ask" : "nobody to ask");
        TStart bridge("[Origins]\nhttps://known.example=1\n");
        TBridgeShell shell;
        shell.Port = 0;
        std::vector<std::string> asked;
        if (canAsk) {
            shell.AskAboutOrigin = [&asked](const std::string& origin) {
                asked.push_back(origin);
                return true;
            };
        }
        ASSERT_EQ(bridge.Startup->Start(bridge.Host, shell).Result, TStartResult::Serving);
        const uint16_t port = bridge.Startup->ListeningPort();
        EXPECT_EQ(AskFromOrigin(port, ""), 109);
        EXPECT_EQ(AskFromOrigin(port, "https://known.example"), 109);
        EXPECT_EQ(AskFromOrigin(port, page), canAsk ? 127 : 125);
        EXPECT_EQ(asked, canAsk ? std::vector<std::string>{page} : std::vector<std::string>{});
    }
}

// The shutdown closes the listening sockets: a new start on the same port listens at once. A
// second shutdown (the destructor's) does nothing more.
TEST(BridgeStartupTest, AfterTheShutdownTheSamePortServesANewStart) {
    TStart first("");
    TBridgeShell shell;
    shell.Port = 0;
    ASSERT_EQ(first.Startup->Start(first.Host, shell).Result, TStartResult::Serving);
    shell.Port = first.Startup->ListeningPort();
    first.Startup->Shutdown();
    EXPECT_EQ(first.Startup->ListeningPort(), 0);
    EXPECT_EQ(first.Startup->Server(), nullptr);
    first.Startup->Shutdown();

    TStart second("");
    const TStartOutcome outcome = second.Startup->Start(second.Host, shell);
    EXPECT_EQ(outcome.Result, TStartResult::Serving) << outcome.Reason;
    EXPECT_EQ(second.Startup->ListeningPort(), shell.Port);
    EXPECT_EQ(AskFromOrigin(shell.Port, ""), 109);
}

// The line of a start without its server: a taken port names its holder when the shell knows
// it, else the system's tool that does; any other failure gives the socket error alone.
TEST(NoServerLineTest, ATakenPortNamesItsHolderOrTheToolThatFindsIt) {
    const std::string start = "Сервер не запущен, запросы страниц не принимаются: ";
    const struct {
        TListenFailure Failure;
        std::string Holder;
        std::string Line;
    } cases[] = {
        {TListenFailure::AddressInUse, "",
         start + "порт 19284 занят другой программой (error); какой, покажет " +
             kPortHolderCommand},
        {TListenFailure::AddressInUse, "modbus-bridged (служба)",
         start + "порт 19284 занят программой modbus-bridged (служба) (error)"},
        {TListenFailure::NoSuchAddress, "modbus-bridged (служба)", start + "error"},
        {TListenFailure::Other, "", start + "error"},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(NoServerLine(19284, "error", row.Failure, row.Holder), row.Line);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const TTestEventLoop eventLoop(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
