#include "WindowBehaviour.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "AccessSettings.h"
#include "Autostart.h"
#include "BridgeServer.h"
#include "BridgeStartup.h"
#include "DailyLogFiles.h"
#include "LinkStatus.h"
#include "LocalTime.h"
#include "LogSave.h"
#include "Utf8Path.h"
#include "WindowTexts.h"

namespace {

constexpr char kOptions[] = "Options";
constexpr int kDefaultTop = 100;
constexpr int kDefaultLeft = 100;
constexpr int kDefaultWidth = 600;
constexpr int kDefaultHeight = 400;
constexpr int kDefaultLogDays = 30;

std::string UnableToWrite(const TIniFile& settings) {
    return "Unable to write to " + settings.Path();
}

constexpr char kNoTrayLine[] =
    "Значок моста не показан: на рабочем столе нет области уведомлений. Свёрнутое окно остаётся "
    "на панели задач; значок появится, когда появится область уведомлений";
constexpr char kTrayAppearedLine[] =
    "Область уведомлений появилась: значок моста — в ней, свёрнутое окно прячется туда";
constexpr char kTrayGoneLine[] =
    "Область уведомлений пропала: свёрнутое окно остаётся на панели задач";

}  // namespace

TWindowBehaviour::TWindowBehaviour(TWindowView& view, std::string settingsPath,
                                   std::string saveFolder, uint16_t port)
    : View(view),
      SettingsPath(std::move(settingsPath)),
      SaveFolder(std::move(saveFolder)),
      Port(port),
      GuiThread(std::this_thread::get_id()) {}

TWindowBehaviour::~TWindowBehaviour() {
    ViewGone = true;
    if (Startup) {
        Startup->Shutdown();
    }
}

void TWindowBehaviour::FormShow() {
    if (Started) {
        return;
    }
    Started = true;
    // The log is empty until this first show: nothing to clear.
    Startup = std::make_unique<TBridgeStartup>(SettingsPath);
    const TIniFile& settings = Startup->Settings();
    View.PlaceWindow({settings.ReadInteger(kOptions, "WindowsLeft", kDefaultLeft),
                      settings.ReadInteger(kOptions, "WindowsTop", kDefaultTop),
                      settings.ReadInteger(kOptions, "WindowsWidth", kDefaultWidth),
                      settings.ReadInteger(kOptions, "WindowsHeight", kDefaultHeight)});
    const TViewOptions options = Startup->ViewOptions();
    ViewErrorOn = options.Error;
    ViewSetOn = options.Set;
    ViewHexOn = options.Hex;
    ShowChecks();

    TBridgeShell shell;
    shell.Port = Port;
    shell.StartLinesWithoutServer = true;
    shell.PortHolder = PortHolder;
    shell.AskAboutOrigin = [this](const std::string& origin) { return AskAboutOrigin(origin); };
    // Beside the window: the request was answered, and the server goes on while the box is open.
    shell.ReportFault = [this](const std::string& text) {
        View.ShowErrorReport(text, TReportKind::Beside);
    };
    if (std::string dailyFilesLine = OpenLogLimits(settings); !dailyFilesLine.empty()) {
        shell.ShellLines.push_back(std::move(dailyFilesLine));
    }
    const TStartOutcome outcome = Startup->Start(*this, std::move(shell));
    if (outcome.Result == TStartResult::NotSetUp) {
        // The program says so and does not start, as without its termination signals. Nothing
        // was changed, so nothing is stored.
        StartRefused_ = true;
        Closed_ = true;
        View.ShowErrorReport("The server cannot be set up (" + outcome.Reason + "); not started",
                             TReportKind::Unattended);
        return;
    }
    const bool listening = outcome.Result == TStartResult::Serving;
    TrayStatus.ServerStarted(listening ? Startup->ListeningPort() : Port, listening);
    ShowStartAtLogin();
    if (Tray) {
        ShowTray();
        if (!TrayShown) {
            LogInfo(kNoTrayLine);
            NoTrayTold = true;
        }
    }
    // Started at login, the window keeps out of the way; one without its server must be seen.
    TWindowShown shown = TWindowShown::Normal;
    if (StartMinimized && listening) {
        shown = TrayShown ? TWindowShown::Hidden : TWindowShown::Minimized;
    }
    View.ShowWindowAs(shown);
    if (!listening) {
        // The window goes on without a server: its log can be read and saved, and a termination
        // signal or the close button ends it at once, whether or not the box is still open.
        View.ShowErrorReport(outcome.Reason, TReportKind::Beside);
    }
}

std::string TWindowBehaviour::OpenLogLimits(const TIniFile& settings) {
    const int32_t limitMB =
        std::max(1, settings.ReadInteger(kOptions, "LogLimitMB", kDefaultLogLimitMB));
    LogModel.SetLimitBytes(static_cast<size_t>(limitMB) << 20);
    DailyFilesFolder = settings.ReadString(kOptions, "LogFolder", "");
    if (DailyFilesFolder.empty()) {
        return {};
    }
    const int32_t days = std::max(1, settings.ReadInteger(kOptions, "LogDays", kDefaultLogDays));
    DailyFiles = std::make_unique<TDailyLogFiles>(DailyFilesFolder, days);
    return "Все строки журнала пишутся в ежедневные файлы в " + DailyFilesFolder + ", хранятся " +
           std::to_string(days) + " дн.; в окне — последние, до " + std::to_string(limitMB) + " МБ";
}

bool TWindowBehaviour::AskAboutOrigin(const std::string& origin) {
    const bool wasShown = !Questions.Current().empty();
    const bool known = Questions.Holds(origin);
    if (!Questions.Ask(origin, ClockMs())) {
        return false;
    }
    if (!wasShown) {
        View.ShowOriginQuestion(Questions.Current());
        TrayStatus.Asking(Questions.Current());
        ShowTray();
    }
    // The bar is of no use behind a hidden or minimized window.
    if (!known && Tray && !View.WindowInSight()) {
        Tray->ShowNotification(std::string(WindowText::kTrayName), OriginNotificationText(origin));
    }
    return true;
}

void TWindowBehaviour::OriginAnswered(const std::string& origin, bool allowed) {
    if (!Startup || !Startup->Server() || !Questions.MayAnswer(origin, ClockMs())) {
        return;
    }
    // Out of view at once: the answer may have to wait for a report below.
    View.ShowOriginQuestion({});
    Startup->Server()->DecideOrigin(origin, allowed);
    LogInfo("Страница " + origin + (allowed ? " разрешена" : " запрещена") + " оператором");
    // Kept at once, so that the answer outlives a crash or a power cut.
    TIniFile& settings = Startup->Settings();
    if (!settings.WriteString(kOriginsSection, origin, allowed ? "1" : "0")) {
        View.ShowErrorReport(UnableToWrite(settings), TReportKind::Waiting);
    }
    // The report may have waited while the window closed.
    if (!Closed_) {
        const std::string& next = Questions.Answered(ClockMs());
        if (!next.empty()) {
            View.ShowOriginQuestion(next);
        }
        TrayStatus.Asking(next);
        ShowTray();
    }
}

void TWindowBehaviour::CloseRequested(TCloseCause cause) {
    if (!Closed_) {
        Shutdown(cause);
    }
    View.CloseWindow();
}

void TWindowBehaviour::M1_ExitClick() {
    CloseRequested(TCloseCause::Operator);
}

void TWindowBehaviour::Shutdown(TCloseCause cause) {
    Closed_ = true;
    if (!Startup) {
        return;
    }
    Startup->Shutdown();
    if (!StoreSettings(Startup->Settings())) {
        const std::string text = UnableToWrite(Startup->Settings());
        if (cause == TCloseCause::SessionEnd) {
            // Nobody may be there to close a box: the log and standard error keep the reason.
            const std::string reason = text + " (" + Startup->Settings().LastWriteError() + ")";
            LogError(reason);
            View.ShowErrorReport(reason, TReportKind::Unattended);
        } else {
            View.ShowErrorReport(text, TReportKind::Waiting);
        }
    }
    Startup.reset();
    if (TrayShown) {
        TrayShown = false;
        Tray->RemoveTrayIcon();
    }
}

bool TWindowBehaviour::StoreSettings(TIniFile& settings) {
    if (const std::optional<TWindowPlacement> placement = View.NormalPlacement()) {
        settings.SetInteger(kOptions, "WindowsTop", placement->Top);
        settings.SetInteger(kOptions, "WindowsLeft", placement->Left);
        settings.SetInteger(kOptions, "WindowsWidth", placement->Width);
        settings.SetInteger(kOptions, "WindowsHeight", placement->Height);
    }
    settings.SetBool(kOptions, "ViewError", ViewErrorOn);
    settings.SetBool(kOptions, "ViewSet", ViewSetOn);
    settings.SetBool(kOptions, "ViewHex", ViewHexOn);
    // One write for all of them: each write replaces the file and waits for the disk.
    return settings.Save();
}

void TWindowBehaviour::M1_SaveClick() {
    if (Closed_) {
        return;
    }
    // A folder that cannot be made leaves the dialog wherever the platform puts it.
    std::error_code ignored;
    std::filesystem::create_directories(Utf8Path(SaveFolder), ignored);
    const std::optional<std::string> path = View.AskSavePath(SaveFolder, LastSavePath);
    // The window may have closed while the dialog was open (the session ended).
    if (!path || Closed_) {
        return;
    }
    LastSavePath = *path;
    if (!SaveLogFile(Log(), *path)) {
        View.ShowErrorReport("Cannot create file " + *path, TReportKind::Waiting);
        return;
    }
    LogDate();
    LogInfo("Файл сохренён: \"" + *path + "\"");
}

void TWindowBehaviour::M1_StartAtLoginClick() {
    if (!Closed_ && Autostart != nullptr) {
        const bool enable = !Autostart->Enabled();
        const std::string error = enable ? Autostart->Enable() : Autostart->Disable();
        if (!error.empty()) {
            LogError(error);
            View.ShowErrorReport(error, TReportKind::Waiting);
        } else {
            LogInfo(std::string("Запуск при входе в систему ") +
                    (enable ? "включён: " : "выключен, удалено: ") + Autostart->Where());
        }
    }
    // A view that ticks the item itself is put right.
    ShowStartAtLogin();
}

void TWindowBehaviour::ShowStartAtLogin() {
    const bool enabled = Autostart != nullptr && Autostart->Enabled();
    View.ShowStartAtLoginCheck(enabled);
    if (Tray) {
        Tray->ShowStartAtLoginCheck(enabled);
    }
}

void TWindowBehaviour::WindowMinimized() {
    if (!Closed_ && TrayShown) {
        View.ShowWindowAs(TWindowShown::Hidden);
    }
}

void TWindowBehaviour::ShowTray() {
    if (Tray == nullptr || Closed_ || ViewGone) {
        return;
    }
    const bool wasShown = TrayShown;
    TrayShown = Tray->ShowTrayIcon(TrayStatus.Picture(), TrayStatus.Tooltip());
    if (wasShown && !TrayShown) {
        TrayShown = true;
        TrayGone();
    }
}

void TWindowBehaviour::TrayAppeared() {
    if (!Started || TrayShown) {
        return;
    }
    ShowTray();
    if (TrayShown && NoTrayTold) {
        NoTrayTold = false;
        LogInfo(kTrayAppearedLine);
    }
}

void TWindowBehaviour::TrayGone() {
    if (!TrayShown || Closed_) {
        return;
    }
    TrayShown = false;
    NoTrayTold = true;
    LogInfo(kTrayGoneLine);
    // A hidden window would be out of reach: its button comes back to the taskbar.
    if (!View.WindowInSight()) {
        View.ShowWindowAs(TWindowShown::Minimized);
    }
}

void TWindowBehaviour::TrayClicked() {
    if (Closed_) {
        return;
    }
    View.ShowWindowAs(View.WindowInSight() && TrayShown ? TWindowShown::Hidden
                                                        : TWindowShown::Normal);
}

void TWindowBehaviour::TrayShowWindowClick() {
    if (!Closed_) {
        View.ShowWindowAs(TWindowShown::Normal);
    }
}

bool TWindowBehaviour::ShowForLaterStart() {
    if (Closed_) {
        return false;
    }
    TrayShowWindowClick();
    return true;
}

void TWindowBehaviour::NotificationClicked() {
    // The question bar is in the window already.
    TrayShowWindowClick();
}

void TWindowBehaviour::RequestBegun() {
    PostToGuiThread([this] {
        TrayStatus.RequestBegun();
        ShowTray();
    });
}

void TWindowBehaviour::RequestEnded(const TRequestEnd& end) {
    PostToGuiThread([this, end] {
        TrayStatus.RequestEnded(end);
        ShowTray();
    });
}

void TWindowBehaviour::PostToGuiThread(std::function<void()> task) {
    Inbox.Post(std::move(task));
    if (OnGuiThread()) {
        Inbox.RunPosted();
    }
}

void TWindowBehaviour::M2_ErrorClick() {
    if (Closed_) {
        return;
    }
    ViewErrorOn = !ViewErrorOn;
    LogInfo(ViewOptionLine(LogText::kViewErrorLine, ViewErrorOn));
    ShowChecks();
}

void TWindowBehaviour::M2_SetClick() {
    if (!Closed_ && !ViewErrorOn) {
        ViewSetOn = !ViewSetOn;
        LogInfo(ViewOptionLine(LogText::kViewSetLine, ViewSetOn));
    }
    // A view that ticks the item itself is put right.
    ShowChecks();
}

void TWindowBehaviour::M2_HexClick() {
    if (!Closed_ && !ViewErrorOn) {
        ViewHexOn = !ViewHexOn;
        LogInfo(ViewOptionLine(LogText::kViewHexLine, ViewHexOn));
    }
    ShowChecks();
}

void TWindowBehaviour::ShowChecks() {
    const bool others = !ViewErrorOn;
    View.ShowViewChecks({{ViewErrorOn, true}, {ViewSetOn, others}, {ViewHexOn, others}});
}

void TWindowBehaviour::M_HelpClick() {
    View.ShowAboutBox(std::string(WindowText::kAboutCaption), std::string(WindowText::kAboutText));
}

void TWindowBehaviour::LogDate() {
    Write(TLogKind::Date, {});
}

void TWindowBehaviour::LogInfo(std::string text) {
    Write(TLogKind::Info, std::move(text));
}

void TWindowBehaviour::LogError(std::string text) {
    Write(TLogKind::Error, std::move(text));
}

void TWindowBehaviour::LogNotice(std::string text) {
    Write(TLogKind::Notice, std::move(text));
}

void TWindowBehaviour::LogSend(std::string text) {
    Write(TLogKind::Send, std::move(text));
}

void TWindowBehaviour::LogReceive(std::string text) {
    Write(TLogKind::Receive, std::move(text));
}

void TWindowBehaviour::Write(TLogKind kind, std::string text) {
    {
        // The clock is read on the writer's thread and the line queued in the same step, so the
        // queue is in the order of the stamps and they never step back in the log.
        const std::lock_guard stamping(StampLock);
        const TLocalTime now = LocalTimeNow();
        std::string line = FormatLogLine(kind, now, text);
        Inbox.Post([this, kind, line = std::move(line), now] { AppendLine(kind, line, now); });
    }
    if (OnGuiThread()) {
        Inbox.RunPosted();
    }
}

void TWindowBehaviour::AppendLine(TLogKind kind, const std::string& line, const TLocalTime& time) {
    LogModel.Append(kind, line);
    if (ViewGone) {
        return;
    }
    View.ShowLogLines(LogModel);
    if (LogModel.Dropped() != DroppedShown) {
        DroppedShown = LogModel.Dropped();
        View.ShowLogNotice(DroppedLinesNotice(DroppedShown, DailyFilesFolder));
    }
    if (!DailyFiles) {
        return;
    }
    if (DailyFiles->Append(time, line)) {
        DailyFilesFailing = false;
    } else if (!DailyFilesFailing) {
        // Told once, not once a line; this line itself cannot reach the file either.
        DailyFilesFailing = true;
        LogError("Cannot create file " + DailyFiles->LastError());
    }
}

void TWindowBehaviour::ShowLinkStatus(uint8_t comPort, uint8_t slave, uint16_t deviceType,
                                      int32_t baud) {
    const auto texts = LinkStatusTexts(comPort, slave, deviceType, baud);
    // In turn with the lines: the panels change after the lines written before them.
    Inbox.Post([this, texts] {
        if (!ViewGone) {
            View.ShowStatusPanels(texts);
        }
    });
    if (OnGuiThread()) {
        Inbox.RunPosted();
    }
}

const TLogModel& TWindowBehaviour::Log() {
    Inbox.RunPosted();
    return LogModel;
}

uint16_t TWindowBehaviour::ListeningPort() const {
    return Startup ? Startup->ListeningPort() : 0;
}
