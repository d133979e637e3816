// What the main window does, against a view that records what it is told: start-up, settings,
// menus, saving, the origin questions and the shutdown. The same cases run on Linux (Qt's event
// loop) and under wine (the thread's message loop), since every toolkit's window draws this.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Autostart.h"
#include "AutostartEntry.h"
#include "HttpClient.h"
#include "IniFile.h"
#include "LogFile.h"
#include "OneCopy.h"
#include "OriginQuestions.h"
#include "PortsDialog.h"
#include "ProgramMarker.h"
#include "SerialIo.h"
#include "SitesDialog.h"
#include "TempFolder.h"
#include "TestEventLoop.h"
#include "TrayStatus.h"
#include "Utf8Path.h"
#include "WindowBehaviour.h"
#include "WindowTexts.h"

namespace {

const std::string kSeparator(48, '-');

std::string ReadFile(const std::string& path) {
    std::ifstream file(Utf8Path(path), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(Utf8Path(path), std::ios::binary) << text;
}

// A window that draws nothing and keeps what it was told.
class TRecordingView : public TWindowView {
public:
    struct TReport {
        std::string Text;
        TReportKind Kind;
        bool operator==(const TReport&) const = default;
    };

    void ShowLogLines(const TLogModel& log) override { LinesShown = log.Size(); }
    void ShowLogNotice(const std::string& text) override { Notice = text; }
    void ShowStatusPanels(const std::array<std::string, 4>& texts) override { Panels = texts; }
    void ShowViewChecks(const TViewChecks& checks) override { Checks = checks; }
    void ShowOriginQuestion(const std::string& origin) override { Question = origin; }
    void ShowErrorReport(const std::string& text, TReportKind kind) override {
        Reports.push_back({text, kind});
    }
    std::optional<std::string> AskSavePath(const std::string& folder,
                                           const std::string& lastPath) override {
        SaveFolderOffered = folder;
        LastPathOffered = lastPath;
        if (DuringSaveDialog) {
            DuringSaveDialog();
        }
        return NextSavePath;
    }
    void PlaceWindow(const TWindowPlacement& placement) override { Placement = placement; }
    std::optional<TWindowPlacement> NormalPlacement() const override {
        if (Maximized) {
            return std::nullopt;
        }
        return Placement;
    }
    void ShowWindowAs(TWindowShown shown) override {
        Shown = shown;
        ShownAs.push_back(shown);
    }
    bool WindowInSight() const override { return Shown == TWindowShown::Normal; }
    void ShowStartAtLoginCheck(bool checked) override { StartAtLogin = checked; }
    void ShowAboutBox(const std::string& caption, const std::string& text) override {
        About = caption + "|" + text;
    }
    void RunSitesDialog(TSitesDialog& dialog) override {
        if (DuringSitesDialog) {
            DuringSitesDialog(dialog);
        }
    }
    void RunPortsDialog(TPortsDialog& dialog) override {
        if (DuringPortsDialog) {
            DuringPortsDialog(dialog);
        }
    }
    void CloseWindow() override { ++Closes; }

    std::function<void(TSitesDialog&)> DuringSitesDialog;
    std::function<void(TPortsDialog&)> DuringPortsDialog;
    size_t LinesShown = 0;
    std::string Notice;
    std::array<std::string, 4> Panels{"x", "x", "x", "x"};
    TViewChecks Checks;
    std::string Question;
    std::vector<TReport> Reports;
    std::optional<std::string> NextSavePath;
    std::function<void()> DuringSaveDialog;
    std::string SaveFolderOffered;
    std::string LastPathOffered;
    TWindowPlacement Placement;
    bool Maximized = false;
    std::string About;
    int Closes = 0;
    // Normal until the behaviour says otherwise, as a view shows its window.
    TWindowShown Shown = TWindowShown::Normal;
    std::vector<TWindowShown> ShownAs;
    std::optional<bool> StartAtLogin;
};

// A tray that draws nothing and keeps what it was told; Present says whether the desktop has
// one.
class TRecordingTray : public TTrayView {
public:
    bool ShowTrayIcon(TTrayPicture picture, const std::string& tooltip) override {
        if (!Present) {
            Shown = false;
            return false;
        }
        Shown = true;
        if (Pictures.empty() || Pictures.back() != picture) {
            Pictures.push_back(picture);
        }
        Tooltip = tooltip;
        return true;
    }
    void RemoveTrayIcon() override { Shown = false; }
    void ShowStartAtLoginCheck(bool checked) override { StartAtLogin = checked; }
    void ShowNotification(const std::string& title, const std::string& text) override {
        Notifications.push_back(title + "|" + text);
    }

    bool Present = true;
    bool Shown = false;
    // Each picture shown, one entry for a run of the same.
    std::vector<TTrayPicture> Pictures;
    std::string Tooltip;
    std::optional<bool> StartAtLogin;
    std::vector<std::string> Notifications;
};

}  // namespace

void PrintTo(const TSiteRow& row, std::ostream* out) {
    *out << row.Origin << " | " << row.State << " | " << row.LastRequest << " | " << row.Requests;
}

namespace {

// The sites or ports dialog as its view: what it was told last.
struct TRecordingDialogView : TSitesView, TPortsView {
    void ShowSites(const std::vector<TSiteRow>& rows) override { Sites = rows; }
    void ShowSitesMessage(const std::string& text, bool error) override {
        Message = text;
        Error = error;
    }
    void ClearTypedOrigin() override { Cleared = true; }
    // Before an action: what it shows is its own.
    void ClearMessage() {
        Message = "<none>";
        Error = false;
        Cleared = false;
    }
    void ShowPorts(const std::vector<TPortRow>& rows) override { Ports = rows; }
    void ShowPortsMessage(const std::string& text, bool error) override {
        Message = text;
        Error = error;
    }

    std::vector<TSiteRow> Sites;
    std::vector<TPortRow> Ports;
    std::string Message;
    bool Error = false;
    bool Cleared = false;
};

// The texts of the log's lines after their time stamps; date lines as "<date>".
std::vector<std::string> LineTexts(const TLogModel& log) {
    std::vector<std::string> texts;
    for (size_t index = 0; index < log.Size(); ++index) {
        const TLogModel::TLine line = log.Line(index);
        const std::string text(line.Text);
        texts.push_back(line.Kind == TLogKind::Date ? "<date>" : text.substr(text.find('\t') + 1));
    }
    return texts;
}

std::vector<std::string> From(const std::vector<std::string>& lines, size_t first) {
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, lines.size())),
            lines.end()};
}

std::vector<std::string> StartLinesBeforeTheServer(bool errorsOnly, bool set, bool hex) {
    const auto onOff = [](bool on) { return on ? "Включено" : "Отключено"; };
    std::vector<std::string> lines = {
        "<date>", "RAVO Duridur - Modbus демонстрационный мост",
        std::string("Показывать Только ошибки: ") + onOff(errorsOnly)};
    if (!errorsOnly) {
        lines.push_back(std::string("Показывать Параметры связи: ") + onOff(set));
        lines.push_back(std::string("Показывать НЕХ данные: ") + onOff(hex));
    }
    lines.push_back("Старт");
    lines.push_back(kSeparator);
    return lines;
}

// The behaviour with its settings file in a folder of its own.
struct TWindow {
    explicit TWindow(const std::string& settings = {}, uint16_t port = 0)
        : Folder("window-behaviour"), SettingsPath(Folder.Path() + "/modbus-bridge.ini") {
        if (!settings.empty()) {
            WriteFile(SettingsPath, settings);
        }
        Behaviour =
            std::make_unique<TWindowBehaviour>(View, SettingsPath, Folder.Path() + "/save", port);
        Behaviour->ClockMs = [this] { return NowMs; };
    }

    std::string Stored(const std::string& key) const {
        return TIniFile(SettingsPath).ReadString("Options", key, "<none>");
    }

    TTempFolder Folder;
    std::string SettingsPath;
    TRecordingView View;
    // The behaviour's clock, which the test moves on.
    uint64_t NowMs = 1'000'000;
    std::unique_ptr<TWindowBehaviour> Behaviour;
};

// The error code of the reply to a request from a page of this origin (none: a program without
// Origin), asked from another thread while this thread's event loop runs; -1 when no reply came.
int AskFromOrigin(TWindowBehaviour& behaviour, const std::string& origin) {
    const uint16_t port = behaviour.ListeningPort();
    std::atomic<int> code{-2};
    std::thread page([&code, port, origin] { code = ErrorCodeForOrigin(port, origin); });
    const bool replied = RunUntil([&code] { return code != -2; });
    page.join();
    return replied ? code.load() : -1;
}

// The error code of the reply to a full read request for this COM number, asked from another
// thread while this thread's event loop runs; -1 when no reply came.
int AskForPort(TWindowBehaviour& behaviour, int com) {
    const uint16_t port = behaviour.ListeningPort();
    const std::string json =
        R"({"company_id":1,"device_id":1,"slave_addr":1,"baud_rate":19200,"com_port":)" +
        std::to_string(com) +
        R"(,"poll_ms":1000,"timeout_ms":500,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,)"
        R"("ctrl_invert":false,"rand_string":"port","pdu":{"read":[3,0,0,0,1]}})";
    std::atomic<int> code{-2};
    std::thread page([&code, port, json] { code = ErrorCodeForJson(port, json); });
    const bool replied = RunUntil([&code] { return code != -2; });
    page.join();
    return replied ? code.load() : -1;
}

// Stored options and placement: what start-up shows and what the close stores, unchanged.
TEST(WindowBehaviourTest, StartUpShowsTheStoredOptionsAndTheCloseKeepsThem) {
    const struct {
        const char* Settings;
        TWindowPlacement Placed;
        bool Error, Set, Hex;
        // What the close stores as WindowsTop and WindowsLeft.
        const char* Top;
        const char* Left;
    } cases[] = {
        // Nothing stored: the defaults.
        {"", {100, 100, 600, 400}, false, false, false, "100", "100"},
        // 0x64 is 100; 1e2 is no integer and reads as the default.
        {"; by hand\n[Ports]\nCOM3=/dev/ttyUSB0\n\n[Options]\nViewError=1\nViewSet=1\nViewHex=0\n"
         "WindowsTop=0x64\nWindowsLeft=1e2\nWindowsWidth=700\nWindowsHeight=500\n",
         {100, 100, 700, 500},
         true,
         true,
         false,
         "100",
         "100"},
        {"[Options]\nViewHex=7\nWindowsLeft=-20\nWindowsTop=30\n",
         {-20, 30, 600, 400},
         false,
         false,
         true,
         "30",
         "-20"},
    };
    for (const auto& start : cases) {
        SCOPED_TRACE(start.Settings);
        TWindow window(start.Settings);
        window.Behaviour->FormShow();
        EXPECT_EQ(window.View.Placement, start.Placed);
        const TViewChecks checks{
            {start.Error, true}, {start.Set, !start.Error}, {start.Hex, !start.Error}};
        EXPECT_EQ(window.View.Checks, checks);
        EXPECT_EQ(window.Behaviour->ViewError(), start.Error);
        EXPECT_EQ(window.Behaviour->ViewHex(), start.Hex);
        std::vector<std::string> lines = LineTexts(window.Behaviour->Log());
        lines.resize(std::min(lines.size(), size_t{start.Error ? 5u : 7u}));
        EXPECT_EQ(lines, StartLinesBeforeTheServer(start.Error, start.Set, start.Hex));
        EXPECT_EQ(window.View.LinesShown, window.Behaviour->Log().Size());
        EXPECT_EQ(window.View.Panels, (std::array<std::string, 4>{}));
        EXPECT_TRUE(window.View.Reports.empty());

        window.Behaviour->M1_ExitClick();
        EXPECT_EQ(window.View.Closes, 1);
        EXPECT_EQ(window.Stored("WindowsTop"), start.Top);
        EXPECT_EQ(window.Stored("WindowsLeft"), start.Left);
        EXPECT_EQ(window.Stored("ViewError"), start.Error ? "1" : "0");
        EXPECT_EQ(window.Stored("ViewSet"), start.Set ? "1" : "0");
        EXPECT_EQ(window.Stored("ViewHex"), start.Hex ? "1" : "0");
        // What was not the window's own stays as it was.
        if (std::string(start.Settings).starts_with("; by hand")) {
            EXPECT_TRUE(ReadFile(window.SettingsPath)
                            .starts_with("; by hand\n[Ports]\nCOM3=/dev/ttyUSB0\n"));
        }
    }
}

TEST(WindowBehaviourTest, PlacementIsNotStoredWhileMaximised) {
    TWindow window("[Options]\nWindowsTop=0x64\nWindowsWidth=300\n");
    window.Behaviour->FormShow();
    window.View.Maximized = true;
    window.Behaviour->CloseRequested(TCloseCause::Operator);
    EXPECT_EQ(window.Stored("WindowsTop"), "0x64");
    EXPECT_EQ(window.Stored("WindowsWidth"), "300");
    EXPECT_EQ(window.Stored("WindowsLeft"), "<none>");
    EXPECT_EQ(window.Stored("ViewError"), "0");
}

TEST(WindowBehaviourTest, TogglesWriteTheirLinesAndErrorsOnlyLocksTheOthers) {
    TWindow window;
    window.Behaviour->FormShow();
    const size_t before = LineTexts(window.Behaviour->Log()).size();
    using TClick = void (TWindowBehaviour::*)();
    const struct {
        TClick Click;
        TViewChecks After;
    } clicks[] = {
        {&TWindowBehaviour::M2_SetClick, {{false, true}, {true, true}, {false, true}}},
        {&TWindowBehaviour::M2_HexClick, {{false, true}, {true, true}, {true, true}}},
        {&TWindowBehaviour::M2_ErrorClick, {{true, true}, {true, false}, {true, false}}},
        // Locked: nothing changes, and a view that ticked the item itself is put right.
        {&TWindowBehaviour::M2_SetClick, {{true, true}, {true, false}, {true, false}}},
        {&TWindowBehaviour::M2_ErrorClick, {{false, true}, {true, true}, {true, true}}},
        {&TWindowBehaviour::M2_HexClick, {{false, true}, {true, true}, {false, true}}},
    };
    for (const auto& click : clicks) {
        window.View.Checks = {};
        (window.Behaviour.get()->*click.Click)();
        EXPECT_EQ(window.View.Checks, click.After);
    }
    EXPECT_EQ(From(LineTexts(window.Behaviour->Log()), before),
              (std::vector<std::string>{
                  "Показывать Параметры связи: Включено", "Показывать НЕХ данные: Включено",
                  "Показывать Только ошибки: Включено", "Показывать Только ошибки: Отключено",
                  "Показывать НЕХ данные: Отключено"}));
    EXPECT_TRUE(window.Behaviour->ViewSet());
    EXPECT_FALSE(window.Behaviour->ViewHex());
    window.Behaviour->CloseRequested(TCloseCause::Operator);
    EXPECT_EQ(window.Stored("ViewSet"), "1");
    EXPECT_EQ(window.Stored("ViewHex"), "0");
}

// Settings that cannot be written: a box for the operator, but at the end of the session
// nothing may wait: standard error and the log instead. The window goes either way.
TEST(WindowBehaviourTest, SettingsThatCannotBeWrittenNeverWaitAtTheEndOfTheSession) {
    for (const TCloseCause cause : {TCloseCause::Operator, TCloseCause::SessionEnd}) {
        const TTempFolder folder("window-behaviour");
        // Nothing can make a folder below a plain file.
        WriteFile(folder.Path() + "/plain", "x");
        const std::string settings = folder.Path() + "/plain/modbus-bridge.ini";
        TRecordingView view;
        TWindowBehaviour behaviour(view, settings, folder.Path() + "/save", 0);
        behaviour.FormShow();
        behaviour.CloseRequested(cause);
        const std::string message = "Unable to write to " + settings;
        ASSERT_EQ(view.Reports.size(), 1u);
        EXPECT_TRUE(view.Reports[0].Text.starts_with(message));
        EXPECT_EQ(view.Closes, 1);
        if (cause == TCloseCause::SessionEnd) {
            EXPECT_EQ(view.Reports[0].Kind, TReportKind::Unattended);
            EXPECT_TRUE(LineTexts(behaviour.Log()).back().starts_with(message));
        } else {
            EXPECT_EQ(view.Reports[0], (TRecordingView::TReport{message, TReportKind::Waiting}));
        }
        // A second request runs nothing again and lets the window go again.
        behaviour.CloseRequested(TCloseCause::Operator);
        EXPECT_EQ(view.Reports.size(), 1u);
        EXPECT_EQ(view.Closes, 2);
    }
}

TEST(WindowBehaviourTest, SavesChooseTheFormatByNameAndLogTheSave) {
    TWindow window;
    window.Behaviour->FormShow();
    window.Behaviour->LogSend("READ_HOLDING_REGISTER");
    window.Behaviour->LogError("Ошибка №1");
    const struct {
        const char* Name;
        bool Rtf;
    } saves[] = {{"log.txt", false}, {"logrtf", true}, {"log.RTF", false}};
    std::string lastPath;
    for (const auto& save : saves) {
        SCOPED_TRACE(save.Name);
        const std::string path = window.Folder.Path() + "/" + save.Name;
        std::ostringstream expected;
        const TLogModel& log = window.Behaviour->Log();
        if (save.Rtf) {
            WriteLogRtf(log, expected);
        } else {
            WriteLogText(log, expected);
        }
        const size_t before = log.Size();
        window.View.NextSavePath = path;
        window.Behaviour->M1_SaveClick();
        EXPECT_EQ(ReadFile(path), expected.str());
        EXPECT_EQ(window.View.LastPathOffered, lastPath);
        EXPECT_EQ(window.View.SaveFolderOffered, window.Folder.Path() + "/save");
        EXPECT_TRUE(std::filesystem::is_directory(Utf8Path(window.View.SaveFolderOffered)));
        EXPECT_EQ(From(LineTexts(window.Behaviour->Log()), before),
                  (std::vector<std::string>{"<date>", "Файл сохренён: \"" + path + "\""}));
        lastPath = path;
    }
    EXPECT_TRUE(ReadFile(window.Folder.Path() + "/logrtf").starts_with("{\\rtf1"));
    // The plain text is Windows-1251 with CR LF: "Ошибка №1".
    EXPECT_NE(ReadFile(window.Folder.Path() + "/log.txt")
                  .find("\t\xCE\xF8\xE8\xE1\xEA\xE0 \xB9"
                        "1\r\n"),
              std::string::npos);
    EXPECT_TRUE(window.View.Reports.empty());
}

TEST(WindowBehaviourTest, ACancelledFailedOrInterruptedSaveWritesNoLine) {
    TWindow window;
    window.Behaviour->FormShow();
    const size_t before = window.Behaviour->Log().Size();
    const std::string unwritable = window.Folder.Path() + "/no/such/folder/log.txt";
    const std::string interrupted = window.Folder.Path() + "/interrupted.txt";
    window.View.NextSavePath.reset();
    window.Behaviour->M1_SaveClick();
    window.View.NextSavePath = unwritable;
    window.Behaviour->M1_SaveClick();
    EXPECT_EQ(window.Behaviour->Log().Size(), before);
    EXPECT_EQ(window.View.Reports,
              (std::vector<TRecordingView::TReport>{
                  {"Cannot create file " + unwritable, TReportKind::Waiting}}));
    // The session ends while the dialog is open: the answer that comes after is not acted on.
    window.View.NextSavePath = interrupted;
    window.View.DuringSaveDialog = [&] {
        window.Behaviour->CloseRequested(TCloseCause::SessionEnd);
    };
    window.Behaviour->M1_SaveClick();
    EXPECT_FALSE(std::filesystem::exists(Utf8Path(interrupted)));
    EXPECT_EQ(window.View.Closes, 1);
    EXPECT_EQ(window.Stored("ViewHex"), "0");
}

TEST(WindowBehaviourTest, AboutBoxAndStatusPanels) {
    TWindow window;
    window.Behaviour->FormShow();
    window.Behaviour->M_HelpClick();
    EXPECT_EQ(window.View.About,
              "О программе|RAVO Duridur - Modbus демонстрационный мост\nV1.1 Февраль 2018\n\n\n"
              "https://modbus-bridge.example");
    // From the worker's thread: drawn by the GUI thread, after the lines written before.
    std::thread worker([&window] {
        window.Behaviour->LogReceive("READ_SECTION_DEVICE");
        window.Behaviour->ShowLinkStatus(3, 17, 3, 115200);
    });
    worker.join();
    EXPECT_TRUE(RunUntil([&] { return window.View.Panels[0] == "COM3"; }));
    EXPECT_EQ(window.View.Panels[1], "ADDR 17");
    EXPECT_EQ(window.View.Panels[2], "115200 бод");
    EXPECT_FALSE(window.View.Panels[3].empty());
    EXPECT_EQ(window.View.LinesShown, window.Behaviour->Log().Size());
}

TEST(WindowBehaviourTest, LinesFromAnotherThreadArriveWholeInOrderWithStampsThatNeverStepBack) {
    TWindow window;
    window.Behaviour->FormShow();
    const size_t before = window.Behaviour->Log().Size();
    constexpr int kLines = 400;
    // Long lines take long to format between the clock and the queue, which is where an older
    // stamp could fall behind a newer one.
    const std::string longText(16 * 1024, 'w');
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int index = 0; index < kLines; ++index) {
            window.Behaviour->LogReceive("line " + std::to_string(index) + longText);
        }
        done = true;
    });
    int guiLines = 0;
    while (!done) {
        window.Behaviour->LogInfo("gui");
        ++guiLines;
    }
    worker.join();
    const TLogModel& log = window.Behaviour->Log();
    ASSERT_EQ(log.Size() - before, static_cast<size_t>(kLines + guiLines));
    int next = 0;
    std::string previous;
    for (size_t index = before; index < log.Size(); ++index) {
        const std::string text(log.Line(index).Text);
        const std::string stamp = text.substr(0, 12);
        const bool midnight = previous.starts_with("23:59:59") && stamp.starts_with("00:00");
        EXPECT_TRUE(previous <= stamp || midnight)
            << index << ": " << stamp << " after " << previous;
        previous = stamp;
        if (text.find("\t<< ") != std::string::npos) {
            EXPECT_EQ(text.substr(13), "<< line " + std::to_string(next) + longText);
            ++next;
        }
    }
    EXPECT_EQ(next, kLines);
    EXPECT_EQ(window.View.LinesShown, log.Size());
}

// The log's memory limit: the view is told how many old lines went and where they are kept.
TEST(WindowBehaviourTest, DroppedLinesAreToldAboveTheLog) {
    for (const std::string folder : {"", "daily"}) {
        TWindow window("[Options]\nLogLimitMB=1\n");
        if (!folder.empty()) {
            WriteFile(window.SettingsPath, "[Options]\nLogLimitMB=1\nLogFolder=" +
                                               window.Folder.Path() + "/" + folder + "\n");
        }
        window.Behaviour->FormShow();
        EXPECT_EQ(window.View.Notice, "");
        const std::string text(1000, 'x');
        for (int line = 0; line < 20000 && window.Behaviour->Log().Dropped() == 0; ++line) {
            window.Behaviour->LogSend(text);
        }
        ASSERT_GT(window.Behaviour->Log().Dropped(), 0u);
        const std::string count = std::to_string(window.Behaviour->Log().Dropped());
        EXPECT_TRUE(window.View.Notice.starts_with("Старые строки удалены из памяти: " + count))
            << window.View.Notice;
        if (folder.empty()) {
            EXPECT_NE(window.View.Notice.find("LogFolder"), std::string::npos);
        } else {
            EXPECT_TRUE(window.View.Notice.ends_with(window.Folder.Path() + "/" + folder));
        }
    }
}

// Without an Origins setting the window asks: a new page hears 127 and its question is shown
// at once; after the answer its next request is served or refused, and the answer is kept. The
// bridge's own page, programs without Origin and listed pages are served; null is never asked
// about, and a page that finds the queue full is asked about later.
TEST(WindowBehaviourTest, EachNewPageIsPutToTheOperatorOneAtATimeAndTheAnswerKept) {
    TWindow window("[Origins]\nhttps://known.example=1\n");
    window.Behaviour->FormShow();
    const std::string own = "http://localhost:" + std::to_string(window.Behaviour->ListeningPort());
    // Served pages go on to the parameter checks (109: device_id is missing).
    for (const std::string& served : {std::string(), own, std::string("https://known.example")}) {
        EXPECT_EQ(AskFromOrigin(*window.Behaviour, served), 109) << served;
    }
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, "null"), 125);
    EXPECT_EQ(window.View.Question, "");

    const auto page = [](size_t index) {
        return "https://page" + std::to_string(index) + ".example";
    };
    // One in view, the others waiting; one more finds no room.
    constexpr size_t kRoom = TOriginQuestions::kMaxWaiting + 1;
    for (size_t index = 0; index <= kRoom; ++index) {
        EXPECT_EQ(AskFromOrigin(*window.Behaviour, page(index)), 127);
    }
    // Unanswered, a page waits and is not asked about twice.
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, page(0)), 127);
    EXPECT_EQ(window.View.Question, page(0));
    window.NowMs += TOriginQuestions::kAnswerDelayMs;
    // An answer about another origin than the one in view changes nothing.
    window.Behaviour->OriginAnswered(page(1), true);
    EXPECT_EQ(window.View.Question, page(0));

    window.Behaviour->OriginAnswered(page(0), true);
    EXPECT_EQ(TIniFile(window.SettingsPath).ReadString("Origins", page(0), ""), "1");
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, page(0)), 109);
    EXPECT_EQ(window.View.Question, page(1));
    // Now there is room for the late one.
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, page(kRoom)), 127);
    for (size_t index = 1; index < kRoom; ++index) {
        ASSERT_EQ(window.View.Question, page(index));
        window.NowMs += TOriginQuestions::kAnswerDelayMs;
        window.Behaviour->OriginAnswered(page(index), false);
    }
    EXPECT_EQ(TIniFile(window.SettingsPath).ReadString("Origins", page(1), ""), "0");
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, page(1)), 125);
    ASSERT_EQ(window.View.Question, page(kRoom));
    window.NowMs += TOriginQuestions::kAnswerDelayMs;
    window.Behaviour->OriginAnswered(page(kRoom), true);
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, page(kRoom)), 109);
    EXPECT_FALSE(TIniFile(window.SettingsPath).HasValue("Origins", "null"));
    const std::vector<std::string> lines = LineTexts(window.Behaviour->Log());
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "Страница " + page(0) + " разрешена оператором"),
        lines.end());
    EXPECT_TRUE(window.View.Reports.empty());
}

// A question takes no answer in its first half second, counted from when it comes into view:
// a key or a click meant for something else as a page raises it (or a double click on the
// answer before it, the next question coming in its place) must not answer it. Such a press
// leaves everything as it was: the question in view, nothing served, kept or logged.
TEST(WindowBehaviourTest, AQuestionTakesNoAnswerInItsFirstHalfSecond) {
    TWindow window;
    window.Behaviour->FormShow();
    const std::string first = "https://first.example";
    const std::string second = "https://second.example";
    const uint64_t asked = window.NowMs;
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, first), 127);
    // Waiting its turn for far longer than half a second.
    window.NowMs += 10 * TOriginQuestions::kAnswerDelayMs;
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, second), 127);
    const size_t linesBefore = window.Behaviour->Log().Size();
    const struct {
        std::string Origin;
        uint64_t AtMs;
        bool Allowed;
        // The question in view after the press.
        std::string InView;
    } presses[] = {
        {first, asked, true, first},
        {first, asked + TOriginQuestions::kAnswerDelayMs - 1, true, first},
        {first, asked + 10 * TOriginQuestions::kAnswerDelayMs, true, second},
        // The same press again, now on the question that came in its place.
        {second, asked + 10 * TOriginQuestions::kAnswerDelayMs, true, second},
        {second, asked + 11 * TOriginQuestions::kAnswerDelayMs - 1, false, second},
        {second, asked + 11 * TOriginQuestions::kAnswerDelayMs, false, ""},
    };
    for (const auto& press : presses) {
        SCOPED_TRACE(press.Origin + " at +" + std::to_string(press.AtMs - asked) + " ms");
        window.NowMs = press.AtMs;
        window.Behaviour->OriginAnswered(press.Origin, press.Allowed);
        EXPECT_EQ(window.View.Question, press.InView);
        EXPECT_EQ(window.Behaviour->OriginAsked(), press.InView);
    }
    EXPECT_EQ(From(LineTexts(window.Behaviour->Log()), linesBefore),
              (std::vector<std::string>{"Страница " + first + " разрешена оператором",
                                        "Страница " + second + " запрещена оператором"}));
    TIniFile stored(window.SettingsPath);
    EXPECT_EQ(stored.ReadString("Origins", first, ""), "1");
    EXPECT_EQ(stored.ReadString("Origins", second, ""), "0");
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, first), 109);
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, second), 125);
}

// The sites dialog, action by action: each changes the site's next reply and its line in [Origins]
// at once, and an answer given there takes the site's question off the bar. Forgotten, a site is
// new again (asked about, its count started again); null and what is no origin are never let in;
// a file that cannot be written is told in the dialog and the change holds all the same.
TEST(WindowBehaviourTest, TheSitesDialogChangesTheNextReplyAndOriginsAtOnce) {
    TWindow window("[Origins]\nhttps://listed.example=1\nhttps://refused.example=0\n");
    window.Behaviour->FormShow();
    const std::string own = "http://localhost:" + std::to_string(window.Behaviour->ListeningPort());
    const std::string asked = "https://asked.example";
    const std::string waiting = "https://waiting.example";
    const std::string listed = "https://listed.example";
    const std::string refused = "https://refused.example";
    const std::string typed = "https://typed.example";
    for (const auto& [origin, code] : std::vector<std::pair<std::string, int>>{{listed, 109},
                                                                               {listed, 109},
                                                                               {refused, 125},
                                                                               {asked, 127},
                                                                               {waiting, 127},
                                                                               {"null", 125},
                                                                               {own, 109}}) {
        ASSERT_EQ(AskFromOrigin(*window.Behaviour, origin), code) << origin;
    }
    ASSERT_EQ(window.View.Question, asked);

    enum TAction { Allow, Refuse, Forget, Add };
    const struct {
        TAction Action;
        std::string Argument;
        bool Error;
        // The origin whose line and reply are looked at; its line in [Origins], or none.
        std::string Origin;
        std::optional<std::string> Stored;
        int Reply;
        std::string Question;
    } steps[] = {
        {Allow, asked, false, asked, "1", 109, waiting},
        // A question that waits its turn goes too.
        {Refuse, waiting, false, waiting, "0", 125, ""},
        {Refuse, listed, false, listed, "0", 125, ""},
        {Forget, refused, false, refused, std::nullopt, 127, refused},
        {Add, " HTTPS://Typed.Example:443/ ", false, typed, "1", 109, refused},
        {Add, "http://typed.example:8080", false, "http://typed.example:8080", "1", 109, refused},
        {Add, "null", true, "null", std::nullopt, 125, refused},
        {Allow, "null", true, "null", std::nullopt, 125, refused},
        {Add, "https://typed.example/page", true, typed, "1", 109, refused},
        {Add, "ftp://typed.example", true, typed, "1", 109, refused},
        // No row chosen.
        {Refuse, "", true, typed, "1", 109, refused},
        {Forget, asked, false, asked, std::nullopt, 127, refused},
    };
    TRecordingDialogView shown;
    int runs = 0;
    window.View.DuringSitesDialog = [&](TSitesDialog& dialog) {
        ++runs;
        dialog.TimeText = [](uint64_t) { return std::string("<seen>"); };
        dialog.Attach(&shown);
        EXPECT_EQ(shown.Sites,
                  (std::vector<TSiteRow>{{asked, "ждёт ответа", "<seen>", "1"},
                                         {listed, "разрешён", "<seen>", "2"},
                                         {refused, "запрещён", "<seen>", "1"},
                                         {waiting, "ждёт ответа", "<seen>", "1"},
                                         {"null", "не в списке: запрещён", "<seen>", "1"}}));
        for (const auto& step : steps) {
            SCOPED_TRACE(std::to_string(step.Action) + " " + step.Argument);
            shown.ClearMessage();
            switch (step.Action) {
                case Allow:
                    dialog.Allow(step.Argument);
                    break;
                case Refuse:
                    dialog.Refuse(step.Argument);
                    break;
                case Forget:
                    dialog.Forget(step.Argument);
                    break;
                case Add:
                    dialog.Add(step.Argument);
                    break;
            }
            EXPECT_EQ(shown.Error, step.Error) << shown.Message;
            EXPECT_NE(shown.Message, "<none>");
            EXPECT_EQ(shown.Cleared, step.Action == Add && !step.Error);
            const TIniFile stored(window.SettingsPath);
            EXPECT_EQ(stored.HasValue("Origins", step.Origin), step.Stored.has_value());
            EXPECT_EQ(stored.ReadString("Origins", step.Origin, ""), step.Stored.value_or(""));
            EXPECT_EQ(AskFromOrigin(*window.Behaviour, step.Origin), step.Reply);
            EXPECT_EQ(window.View.Question, step.Question);
        }
        // Forgotten, a site counts again from its next request; refreshed, the table says so.
        dialog.Refresh();
        const auto row = [&shown](const std::string& origin) {
            for (const TSiteRow& each : shown.Sites) {
                if (each.Origin == origin) {
                    return each;
                }
            }
            return TSiteRow{};
        };
        EXPECT_EQ(row(asked), (TSiteRow{asked, "ждёт ответа", "<seen>", "1"}));
        EXPECT_EQ(row(listed), (TSiteRow{listed, "запрещён", "<seen>", "3"}));
        EXPECT_EQ(row(typed), (TSiteRow{typed, "разрешён", "<seen>", "4"}));
        EXPECT_EQ(row(own).Origin, "");

        // The file cannot be written (a folder took its place): the dialog says so, and the
        // change holds from the next request all the same.
        std::filesystem::remove(Utf8Path(window.SettingsPath));
        std::filesystem::create_directory(Utf8Path(window.SettingsPath));
        dialog.Allow(refused);
        EXPECT_TRUE(shown.Error);
        EXPECT_NE(shown.Message.find("файл настроек не записан"), std::string::npos)
            << shown.Message;
        EXPECT_EQ(AskFromOrigin(*window.Behaviour, refused), 109);
        dialog.Attach(nullptr);
    };
    window.Behaviour->M3_SitesClick();
    EXPECT_EQ(runs, 1);
    const std::vector<std::string> lines = LineTexts(window.Behaviour->Log());
    for (const std::string& line : {"Страница " + asked + " разрешена оператором",
                                    "Страница " + listed + " запрещена оператором",
                                    "Страница " + refused + " забыта оператором"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
    EXPECT_TRUE(window.View.Reports.empty());
    std::filesystem::remove(Utf8Path(window.SettingsPath));
}

// The ports dialog keeps an adapter on a COM number: [Ports] names the adapter's stable path at
// once, and the next request for that number opens it (here a path with nothing behind it: 122,
// where the old device or the port policy gave another answer). Only an adapter with a stable
// path can be kept, on a number from 1 to 255.
TEST(WindowBehaviourTest, ThePortsDialogKeepsAnAdapterOnItsNumberFromTheNextRequest) {
    TWindow window("[Server]\nUnmappedPorts=deny\n[Ports]\nCOM3=/dev/ttyUSB0\n");
    const std::string stable = window.Folder.Path() + "/by-id/usb-Acme_Bridge_SN1-if00-port0";
    TSerialPort usb;
    usb.Name = "ttyUSB0";
    usb.Path = "/dev/ttyUSB0";
    usb.StablePath = stable;
    usb.Kind = TSerialKind::Usb;
    TSerialPort uart;
    // COM1 without a line: /dev/ttyS0, or \\.\COM1 under wine.
    uart.Name = "COM1";
    uart.Path = PlatformPortPath(1);
    uart.Kind = TSerialKind::Builtin;
    window.Behaviour->ListPorts = [&] {
        // The stable path leads to the adapter's device, as its link does.
        return TPortsListing{
            {uart, usb},
            [&](const std::string& value) {
                return TPortTarget{value == stable ? usb.Path : value};
            },
            [](int number) { return PlatformPortPath(static_cast<uint8_t>(number)); }};
    };
    window.Behaviour->FormShow();
    ASSERT_EQ(AskForPort(*window.Behaviour, 7), 126);

    const struct {
        std::string Device;
        std::string Number;
        bool Error;
        // The line of COM<Com> in [Ports] after the step, and the reply to a request for it.
        int Com;
        std::string Stored;
        int Reply;
    } steps[] = {
        {PlatformPortPath(1), "4", true, 4, "", 126},
        {"/dev/ttyUSB0", "0", true, 7, "", 126},
        {"/dev/ttyUSB0", "COM256", true, 7, "", 126},
        {"", "5", true, 5, "", 126},
        {"/dev/ttyUSB0", " 3", false, 3, stable, 122},
        {"/dev/ttyUSB0", "com7", false, 7, stable, 122},
        {"/dev/ttyUSB0", "7", false, 7, stable, 122},
    };
    TRecordingDialogView shown;
    window.View.DuringPortsDialog = [&](TPortsDialog& dialog) {
        dialog.Attach(&shown);
        ASSERT_EQ(shown.Ports.size(), 2u);
        EXPECT_EQ(shown.Ports[0].Numbers, std::vector<int>{1});
        EXPECT_EQ(shown.Ports[1].Numbers, std::vector<int>{3});
        for (const auto& step : steps) {
            SCOPED_TRACE(step.Device + " on " + step.Number);
            shown.ClearMessage();
            dialog.Pin(step.Device, step.Number);
            EXPECT_EQ(shown.Error, step.Error) << shown.Message;
            EXPECT_NE(shown.Message, "<none>");
            EXPECT_EQ(TIniFile(window.SettingsPath)
                          .ReadString("Ports", "COM" + std::to_string(step.Com), ""),
                      step.Com == 3 && step.Stored.empty() ? "/dev/ttyUSB0" : step.Stored);
            EXPECT_EQ(AskForPort(*window.Behaviour, step.Com), step.Reply);
        }
        EXPECT_NE(shown.Message.find("уже"), std::string::npos) << shown.Message;
        EXPECT_EQ(shown.Ports[1].Numbers, (std::vector<int>{3, 7}));
        dialog.Attach(nullptr);
    };
    window.Behaviour->M3_PortsClick();
    const std::vector<std::string> lines = LineTexts(window.Behaviour->Log());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Порт COM3 закреплён оператором за " + stable),
              lines.end());
    // The link opened the stable path, not the old device.
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [&stable](const std::string& line) {
                               return line.starts_with("COM3 (" + stable + ") не открыт");
                           }),
              lines.end());
}

// A typed site as the origin that browsers send, or the reason it is none.
TEST(WindowBehaviourTest, ATypedSiteIsTakenAsTheOriginBrowsersSend) {
    const struct {
        const char* Typed;
        const char* Origin;
    } cases[] = {
        {"https://scada.example", "https://scada.example"},
        {"  HTTPS://SCADA.Example/ ", "https://scada.example"},
        {"https://scada.example:443", "https://scada.example"},
        {"http://scada.example:80/", "http://scada.example"},
        {"https://scada.example:80", "https://scada.example:80"},
        {"http://192.168.1.10:8080", "http://192.168.1.10:8080"},
        {"http://[::1]:8080", "http://[::1]:8080"},
        {"http://[fe80::1]", "http://[fe80::1]"},
        {"null", ""},
        {"scada.example", ""},
        {"ftp://scada.example", ""},
        {"https://", ""},
        {"https://scada.example/page", ""},
        {"https://scada.example:8443/x", ""},
        {"https://user@scada.example", ""},
        {"https://scada.example:0", ""},
        {"https://scada.example:080", ""},
        {"https://scada.example:65536", ""},
        {"https://scada.example:", ""},
        {"http://[::1", ""},
        {"http://[::1]x", ""},
        {"https://scada example", ""},
        {"https://скада.example", ""},
    };
    for (const auto& each : cases) {
        std::string problem;
        EXPECT_EQ(TypedOrigin(each.Typed, problem), each.Origin) << each.Typed;
        EXPECT_EQ(problem.empty(), *each.Origin != '\0') << each.Typed << ": " << problem;
    }
}

// A port that another program holds: the start lines end with the reason, the report does not
// wait, and the log can still be saved.
TEST(WindowBehaviourTest, ATakenPortGivesAnErrorLineAndAReportThatDoesNotWait) {
    TWindow first;
    first.Behaviour->FormShow();
    const uint16_t taken = first.Behaviour->ListeningPort();
    ASSERT_NE(taken, 0);
    TWindow second({}, taken);
    second.Behaviour->FormShow();
    ASSERT_EQ(second.View.Reports.size(), 1u);
    EXPECT_EQ(second.View.Reports[0].Kind, TReportKind::Beside);
    EXPECT_NE(second.View.Reports[0].Text.find("on API 'bind'"), std::string::npos);
    const std::vector<std::string> lines = LineTexts(second.Behaviour->Log());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_TRUE(
        lines.back().starts_with("Сервер не запущен, запросы страниц не принимаются: порт " +
                                 std::to_string(taken) + " занят другой программой ("))
        << lines.back();
    EXPECT_EQ(second.Behaviour->ListeningPort(), 0);
    second.View.NextSavePath = second.Folder.Path() + "/log.txt";
    second.Behaviour->M1_SaveClick();
    EXPECT_NE(ReadFile(*second.View.NextSavePath).find("on API 'bind'"), std::string::npos);
}

// The icon's picture and tooltip after each event: a page waiting for consent outranks a request
// under way, which outranks the last failure; a stopped request (its page left) changes no
// result; a server without its port shows failure from the start.
TEST(TrayStatusTest, PictureAndTooltipFollowWhatHappened) {
    using TStep = std::function<void(TTrayStatus&)>;
    const std::string port = "Modbus мост, порт 19284\n";
    const struct {
        const char* Name;
        TStep Step;
        TTrayPicture Picture;
        std::string Tooltip;
    } steps[] = {
        {"started", [](TTrayStatus& s) { s.ServerStarted(19284, true); }, TTrayPicture::Idle,
         port + "Запросов ещё не было"},
        {"begun", [](TTrayStatus& s) { s.RequestBegun(); }, TTrayPicture::Serving,
         port + "Выполняется запрос"},
        {"served",
         [](TTrayStatus& s) {
             s.RequestEnded({0, ""});
         },
         TTrayPicture::Idle, port + "Последний запрос: успешно"},
        {"failed",
         [](TTrayStatus& s) {
             s.RequestBegun();
             s.RequestEnded({122, "Ошибка открытия порта"});
         },
         TTrayPicture::Failed, port + "Последний запрос: ошибка 122, Ошибка открытия порта"},
        {"begun after a failure", [](TTrayStatus& s) { s.RequestBegun(); }, TTrayPicture::Serving,
         port + "Выполняется запрос"},
        {"stopped", [](TTrayStatus& s) { s.RequestEnded({}); }, TTrayPicture::Failed,
         port + "Последний запрос: ошибка 122, Ошибка открытия порта"},
        {"asking", [](TTrayStatus& s) { s.Asking("https://plant.example"); }, TTrayPicture::Asking,
         port + "Последний запрос: ошибка 122, Ошибка открытия порта\nЖдёт разрешения: "
                "https://plant.example"},
        {"begun while asking", [](TTrayStatus& s) { s.RequestBegun(); }, TTrayPicture::Asking,
         port + "Выполняется запрос\nЖдёт разрешения: https://plant.example"},
        {"answered",
         [](TTrayStatus& s) {
             s.RequestEnded({0, ""});
             s.Asking("");
         },
         TTrayPicture::Idle, port + "Последний запрос: успешно"},
        {"internal fault",
         [](TTrayStatus& s) {
             s.RequestEnded({-1, ""});
         },
         TTrayPicture::Failed, port + "Последний запрос: ошибка -1"},
        {"port taken", [](TTrayStatus& s) { s.ServerStarted(19284, false); }, TTrayPicture::Failed,
         "Modbus мост: порт 19284 не открыт\nПоследний запрос: ошибка -1"},
    };
    TTrayStatus status;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Name);
        step.Step(status);
        EXPECT_EQ(status.Picture(), step.Picture);
        EXPECT_EQ(status.Tooltip(), step.Tooltip);
    }
}

size_t CountLines(TWindowBehaviour& behaviour, const std::string& start) {
    const std::vector<std::string> lines = LineTexts(behaviour.Log());
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(start); }));
}

const std::string kNoTray = "Значок моста не показан: на рабочем столе нет области уведомлений";
const std::string kTrayCame = "Область уведомлений появилась";
const std::string kTrayWent = "Область уведомлений пропала";

// Without a tray a minimized window must stay on the taskbar (hidden, nothing could bring it
// back), and the log says so once; a tray that comes later takes the icon and from then on the
// minimized window; a tray that goes while the window hides in it gives the window back to the
// taskbar.
TEST(WindowBehaviourTrayTest, WithoutATrayTheWindowStaysOnTheTaskbarUntilOneComes) {
    TWindow window;
    TRecordingTray tray;
    tray.Present = false;
    window.Behaviour->AttachTray(tray);
    window.Behaviour->FormShow();
    EXPECT_EQ(window.View.ShownAs, std::vector<TWindowShown>{TWindowShown::Normal});
    EXPECT_EQ(CountLines(*window.Behaviour, kNoTray), 1u);
    window.Behaviour->WindowMinimized();
    window.Behaviour->TrayAppeared();
    EXPECT_EQ(window.View.ShownAs, std::vector<TWindowShown>{TWindowShown::Normal});
    EXPECT_FALSE(tray.Shown);

    tray.Present = true;
    window.Behaviour->TrayAppeared();
    EXPECT_TRUE(tray.Shown);
    EXPECT_EQ(tray.Pictures, std::vector<TTrayPicture>{TTrayPicture::Idle});
    EXPECT_EQ(CountLines(*window.Behaviour, kTrayCame), 1u);
    const struct {
        const char* Name;
        void (TWindowBehaviour::*Event)();
        TWindowShown Then;
    } events[] = {
        {"minimized", &TWindowBehaviour::WindowMinimized, TWindowShown::Hidden},
        {"click on the hidden", &TWindowBehaviour::TrayClicked, TWindowShown::Normal},
        {"click on the shown", &TWindowBehaviour::TrayClicked, TWindowShown::Hidden},
        {"menu's show", &TWindowBehaviour::TrayShowWindowClick, TWindowShown::Normal},
        {"menu's show again", &TWindowBehaviour::TrayShowWindowClick, TWindowShown::Normal},
        {"minimized again", &TWindowBehaviour::WindowMinimized, TWindowShown::Hidden},
        {"menu's sites", &TWindowBehaviour::TraySitesClick, TWindowShown::Normal},
        {"minimized once more", &TWindowBehaviour::WindowMinimized, TWindowShown::Hidden},
        {"tray gone", &TWindowBehaviour::TrayGone, TWindowShown::Minimized},
    };
    // The sites dialog from the tray comes over a window in sight, not behind a hidden one.
    std::vector<TWindowShown> shownUnderSitesDialog;
    window.View.DuringSitesDialog = [&window, &shownUnderSitesDialog](TSitesDialog&) {
        shownUnderSitesDialog.push_back(window.View.Shown);
    };
    for (const auto& event : events) {
        SCOPED_TRACE(event.Name);
        tray.Present = event.Event != &TWindowBehaviour::TrayGone;
        (window.Behaviour.get()->*event.Event)();
        EXPECT_EQ(window.View.Shown, event.Then);
    }
    EXPECT_EQ(shownUnderSitesDialog, std::vector<TWindowShown>{TWindowShown::Normal});
    EXPECT_EQ(CountLines(*window.Behaviour, kTrayWent), 1u);
    const size_t shownCalls = window.View.ShownAs.size();
    window.Behaviour->WindowMinimized();
    EXPECT_EQ(window.View.ShownAs.size(), shownCalls);
    EXPECT_EQ(CountLines(*window.Behaviour, kNoTray), 1u);
}

// Started at login: hidden in the tray; minimized where there is none; in sight when the
// server could not open its port, since nobody would see that otherwise.
TEST(WindowBehaviourTrayTest, StartedAtLoginTheWindowKeepsOutOfTheWayUnlessItFailed) {
    TWindow holder;
    holder.Behaviour->FormShow();
    const uint16_t taken = holder.Behaviour->ListeningPort();
    ASSERT_NE(taken, 0);
    const struct {
        const char* Name;
        bool TrayPresent;
        uint16_t Port;
        TWindowShown Shown;
        TTrayPicture Picture;
    } rows[] = {
        {"with a tray", true, 0, TWindowShown::Hidden, TTrayPicture::Idle},
        {"without a tray", false, 0, TWindowShown::Minimized, TTrayPicture::Idle},
        {"port taken", true, taken, TWindowShown::Normal, TTrayPicture::Failed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TWindow window({}, row.Port);
        TRecordingTray tray;
        tray.Present = row.TrayPresent;
        window.Behaviour->AttachTray(tray);
        window.Behaviour->StartMinimized = true;
        window.Behaviour->FormShow();
        EXPECT_EQ(window.View.ShownAs, std::vector<TWindowShown>{row.Shown});
        if (row.TrayPresent) {
            EXPECT_EQ(tray.Pictures, std::vector<TTrayPicture>{row.Picture});
        }
    }
}

// Requests served through the window's own server change the icon as they start and end, from
// the worker's thread.
TEST(WindowBehaviourTrayTest, ARequestShowsAsServingThenAsItsResult) {
    TWindow window;
    TRecordingTray tray;
    window.Behaviour->AttachTray(tray);
    window.Behaviour->FormShow();
    // No device_id: the worker answers 109.
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, ""), 109);
    window.Behaviour->Log();
    EXPECT_EQ(tray.Pictures, (std::vector<TTrayPicture>{TTrayPicture::Idle, TTrayPicture::Serving,
                                                        TTrayPicture::Failed}));
    EXPECT_NE(tray.Tooltip.find("Последний запрос: ошибка 109, "), std::string::npos)
        << tray.Tooltip;
    EXPECT_NE(tray.Tooltip.find("порт " + std::to_string(window.Behaviour->ListeningPort())),
              std::string::npos);

    // Gone with the window, and not put back by a request's late end.
    window.Behaviour->CloseRequested(TCloseCause::Operator);
    EXPECT_FALSE(tray.Shown);
    window.Behaviour->RequestEnded({0, ""});
    EXPECT_FALSE(tray.Shown);
}

// The question bar cannot be seen behind a hidden or minimized window: each new page's question
// is then told by a notification naming it, once; a click on it brings the window with the
// bar. A window in sight shows the bar alone.
TEST(WindowBehaviourTrayTest, ANewPagesQuestionIsNotifiedWhileTheWindowIsOutOfSight) {
    TWindow window;
    TRecordingTray tray;
    window.Behaviour->AttachTray(tray);
    window.Behaviour->FormShow();
    const std::string seen = "https://seen.example";
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, seen), 127);
    EXPECT_TRUE(tray.Notifications.empty());
    EXPECT_EQ(tray.Pictures.back(), TTrayPicture::Asking);
    EXPECT_NE(tray.Tooltip.find("Ждёт разрешения: " + seen), std::string::npos);
    window.NowMs += TOriginQuestions::kAnswerDelayMs;
    window.Behaviour->OriginAnswered(seen, true);
    EXPECT_EQ(tray.Pictures.back(), TTrayPicture::Idle);

    window.Behaviour->WindowMinimized();
    ASSERT_EQ(window.View.Shown, TWindowShown::Hidden);
    const std::string plant = "https://plant.example";
    const std::string other = "https://other.example";
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, plant), 127);
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, plant), 127);
    EXPECT_EQ(AskFromOrigin(*window.Behaviour, other), 127);
    EXPECT_EQ(tray.Notifications,
              (std::vector<std::string>{"Modbus мост|" + OriginNotificationText(plant),
                                        "Modbus мост|" + OriginNotificationText(other)}));
    EXPECT_NE(tray.Notifications[0].find(plant), std::string::npos);
    EXPECT_EQ(tray.Pictures.back(), TTrayPicture::Asking);
    window.Behaviour->NotificationClicked();
    EXPECT_EQ(window.View.Shown, TWindowShown::Normal);
    EXPECT_EQ(window.View.Question, plant);
}

// "Запускать при входе в систему", from the window's menu or the tray's: the entry written and
// removed, both check marks following what is really there, a line for each; a failure is told
// and leaves the marks unset.
TEST(WindowBehaviourTrayTest, StartAtLoginWritesAndRemovesTheEntryFromEitherMenu) {
    TWindow window;
#ifdef _WIN32
    const std::string place = "Software\\modbus-bridge-tests\\BehaviourRun";
#else
    const std::string place = window.Folder.Path() + "/autostart";
#endif
    TAutostart autostart(window.Folder.Path() + "/modbus-bridge", place);
    TRecordingTray tray;
    window.Behaviour->AttachTray(tray);
    window.Behaviour->AttachAutostart(autostart);
    window.Behaviour->FormShow();
    EXPECT_EQ(window.View.StartAtLogin, false);
    EXPECT_EQ(tray.StartAtLogin, false);
    const struct {
        const char* Name;
        void (TWindowBehaviour::*Click)();
        bool After;
        std::string Line;
    } clicks[] = {
        {"window's menu", &TWindowBehaviour::M1_StartAtLoginClick, true,
         "Запуск при входе в систему включён: " + autostart.Where()},
        {"tray's menu", &TWindowBehaviour::TrayStartAtLoginClick, false,
         "Запуск при входе в систему выключен, удалено: " + autostart.Where()},
        {"tray's menu again", &TWindowBehaviour::TrayStartAtLoginClick, true,
         "Запуск при входе в систему включён: " + autostart.Where()},
        {"window's menu again", &TWindowBehaviour::M1_StartAtLoginClick, false,
         "Запуск при входе в систему выключен, удалено: " + autostart.Where()},
    };
    for (const auto& click : clicks) {
        SCOPED_TRACE(click.Name);
        (window.Behaviour.get()->*click.Click)();
        EXPECT_EQ(autostart.Enabled(), click.After);
        EXPECT_EQ(window.View.StartAtLogin, click.After);
        EXPECT_EQ(tray.StartAtLogin, click.After);
        EXPECT_EQ(LineTexts(window.Behaviour->Log()).back(), click.Line);
    }
    EXPECT_TRUE(window.View.Reports.empty());
#ifndef _WIN32
    // A file where the folder would be.
    std::filesystem::remove_all(Utf8Path(place));
    WriteFile(place, "x");
    window.Behaviour->M1_StartAtLoginClick();
    ASSERT_EQ(window.View.Reports.size(), 1u);
    EXPECT_EQ(window.View.Reports[0].Kind, TReportKind::Waiting);
    EXPECT_TRUE(window.View.Reports[0].Text.starts_with("Cannot create file " + place + "/"));
    EXPECT_EQ(window.View.StartAtLogin, false);
    EXPECT_EQ(tray.StartAtLogin, false);
#endif
}

// A platform's way between two starts, as told: what the marker was, whether the first listens
// and what it answers; it records the asks.
struct TRecordingCopyLink : TCopyLink {
    TMarkerState Claim() override { return Marker; }
    std::string Error() const override { return "told"; }
    TFirstAnswer AskFirstToShow() override {
        ++Asks;
        return Answer;
    }
    bool ListenForLaterStarts(std::function<bool()> asked) override {
        Asked = std::move(asked);
        return Listens;
    }
    TMarkerState Marker = TMarkerState::Held;
    bool Listens = true;
    TFirstAnswer Answer = TFirstAnswer::Shown;
    int Asks = 0;
    std::function<bool()> Asked;
};

// The first start runs and listens; a later one asks it and ends with 0, runs as the first when
// the first ended meanwhile, or ends with 1 and a line when it never answers; one at login asks
// nothing; without a marker the window runs as before. A later start's request brings the
// first's window out of the tray, where it was hidden, until the window closes.
TEST(OneCopyTest, TheFirstRunsALaterStartAsksItAndEnds) {
    const struct {
        const char* Name;
        TMarkerState Marker;
        bool Listens;
        TFirstAnswer Answer;
        bool Minimized;
        TOneCopyStart Start;
        int Asks;
    } starts[] = {
        {"first", TMarkerState::Held, true, TFirstAnswer::Shown, false, {true, 0, ""}, 0},
        {"first, unreachable",
         TMarkerState::Held,
         false,
         TFirstAnswer::Shown,
         false,
         {true, 0, "a later start cannot reach this window (told); it will find the port taken"},
         0},
        {"later", TMarkerState::HeldElsewhere, true, TFirstAnswer::Shown, false, {false, 0, ""}, 1},
        {"later, at login",
         TMarkerState::HeldElsewhere,
         true,
         TFirstAnswer::Shown,
         true,
         {false, 0, ""},
         0},
        {"later, the first ended meanwhile",
         TMarkerState::HeldElsewhere,
         true,
         TFirstAnswer::TakenOver,
         false,
         {true, 0, ""},
         1},
        {"later, the first silent",
         TMarkerState::HeldElsewhere,
         true,
         TFirstAnswer::NoAnswer,
         false,
         {false, 1, "the window runs already but did not answer (told); not started"},
         1},
        {"no marker",
         TMarkerState::Failed,
         true,
         TFirstAnswer::Shown,
         false,
         {true, 0, "one window per user cannot be kept (told)"},
         0},
    };
    for (const auto& start : starts) {
        SCOPED_TRACE(start.Name);
        TRecordingCopyLink link;
        link.Marker = start.Marker;
        link.Listens = start.Listens;
        link.Answer = start.Answer;
        int shows = 0;
        const TOneCopyStart outcome = StartAsOneCopy(link, start.Minimized, [&shows] {
            ++shows;
            return true;
        });
        EXPECT_EQ(outcome.Run, start.Start.Run);
        EXPECT_EQ(outcome.ExitStatus, start.Start.ExitStatus);
        EXPECT_EQ(outcome.Message, start.Start.Message);
        EXPECT_EQ(link.Asks, start.Asks);
        EXPECT_EQ(shows, 0);
        // Whoever runs with the marker listens for later starts.
        EXPECT_EQ(static_cast<bool>(link.Asked),
                  start.Start.Run && start.Marker != TMarkerState::Failed);
    }

    TRecordingCopyLink link;
    TWindow first;
    TRecordingTray tray;
    first.Behaviour->AttachTray(tray);
    first.Behaviour->StartMinimized = true;
    ASSERT_TRUE(
        StartAsOneCopy(link, true, [&first] { return first.Behaviour->ShowForLaterStart(); }).Run);
    first.Behaviour->FormShow();
    ASSERT_EQ(first.View.Shown, TWindowShown::Hidden);
    EXPECT_TRUE(link.Asked());
    EXPECT_EQ(first.View.Shown, TWindowShown::Normal);
    first.Behaviour->WindowMinimized();
    ASSERT_EQ(first.View.Shown, TWindowShown::Hidden);
    EXPECT_TRUE(link.Asked());
    EXPECT_EQ(first.View.Shown, TWindowShown::Normal);
    // Closing, it tells the later start so, which then waits for the marker.
    first.Behaviour->CloseRequested(TCloseCause::Operator);
    const size_t shownCalls = first.View.ShownAs.size();
    EXPECT_FALSE(link.Asked());
    EXPECT_EQ(first.View.ShownAs.size(), shownCalls);
}

// The markers themselves: the window's is one per user, taken over as soon as its holder lets go
// (a killed process lets go the same way), modbus-bridged's is shared; each program names the
// other one that holds its marker, and the window never names itself.
TEST(OneCopyTest, MarkersKeepOneWindowAndNameTheOtherProgram) {
#ifndef _WIN32
    const TTempFolder runtime("one-copy-runtime");
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
#endif
    EXPECT_EQ(MarkedPortHolder(TMarkedProgram::Headless), "");
    {
        TProgramMarker first(TMarkedProgram::Window);
        ASSERT_EQ(first.State(), TMarkerState::Held) << first.Error();
        EXPECT_EQ(TProgramMarker(TMarkedProgram::Window).State(), TMarkerState::HeldElsewhere);
        EXPECT_EQ(MarkedPortHolder(TMarkedProgram::Headless), "modbus-bridge (окно)");
        EXPECT_EQ(MarkedPortHolder(TMarkedProgram::Window), "");
    }
    EXPECT_EQ(MarkedPortHolder(TMarkedProgram::Headless), "");
    const TProgramMarker again(TMarkedProgram::Window);
    EXPECT_EQ(again.State(), TMarkerState::Held) << again.Error();
    {
        const TProgramMarker bridged(TMarkedProgram::Headless);
        const TProgramMarker another(TMarkedProgram::Headless);
        EXPECT_EQ(bridged.State(), TMarkerState::Held) << bridged.Error();
        EXPECT_EQ(another.State(), TMarkerState::Held) << another.Error();
        EXPECT_EQ(MarkedPortHolder(TMarkedProgram::Window), "modbus-bridged");
    }
    EXPECT_EQ(MarkedPortHolder(TMarkedProgram::Window), "");
}

}  // namespace

int main(int argc, char* argv[]) {
    const TTestEventLoop eventLoop(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
