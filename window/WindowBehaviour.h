#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "BridgeHost.h"
#include "BridgePort.h"
#include "IniFile.h"
#include "LogModel.h"
#include "MainThreadInbox.h"
#include "MonotonicClock.h"
#include "OriginQuestions.h"
#include "SerialPorts.h"
#include "TrayStatus.h"
#include "TrayView.h"
#include "WindowView.h"

class TAutostart;
class TBridgeStartup;
class TDailyLogFiles;
struct TLocalTime;

// What the main window does, whatever toolkit draws it: the start-up and the shutdown, the
// menus, the three view options, the status panels, the settings it reads and writes, saving the
// log and the question about a new page; the tray icon, hiding the window in it, and the entry
// that starts the program at login. It owns the link, the settings file, the server and the
// log, is the host of the request road, and tells its views what to draw. Made on the GUI
// thread, whose event loop serves the server; the log writers, the status panels and the
// request's progress may be called from any thread.
class TWindowBehaviour : public TWindowEvents, public TTrayEvents, public TBridgeHost {
public:
    // settingsPath and saveFolder in UTF-8; tests pass port 0 for a free port.
    TWindowBehaviour(TWindowView& view, std::string settingsPath, std::string saveFolder,
                     uint16_t port = kBridgePort);
    // A behaviour that was not closed stops its request and its server here, writing nothing
    // and showing nothing: its view may be gone.
    ~TWindowBehaviour() override;
    TWindowBehaviour(const TWindowBehaviour&) = delete;
    TWindowBehaviour& operator=(const TWindowBehaviour&) = delete;

    // The tray icon and the entry that starts the program at login, where the program has them;
    // before FormShow. Both outlive the behaviour.
    void AttachTray(TTrayView& tray) { Tray = &tray; }
    void AttachAutostart(TAutostart& autostart) { Autostart = &autostart; }
    // Started at login (--minimized): the window comes up hidden in the tray, or minimized where
    // there is none; in sight all the same when its server could not open its port. Before
    // FormShow.
    bool StartMinimized = false;

    void FormShow() override;
    void CloseRequested(TCloseCause cause) override;
    void M1_SaveClick() override;
    void M1_StartAtLoginClick() override;
    void M1_ExitClick() override;
    void M2_ErrorClick() override;
    void M2_SetClick() override;
    void M2_HexClick() override;
    void M_HelpClick() override;
    void WindowMinimized() override;
    // In WindowDialogs.cpp.
    void M3_SitesClick() override;
    void M3_PortsClick() override;
    void OriginAnswered(const std::string& origin, bool allowed) override;

    void TrayAppeared() override;
    void TrayGone() override;
    void TrayClicked() override;
    void TrayShowWindowClick() override;
    // The dialog over the window, brought into sight first.
    void TraySitesClick() override {
        TrayShowWindowClick();
        M3_SitesClick();
    }
    void TrayStartAtLoginClick() override { M1_StartAtLoginClick(); }
    void TrayExitClick() override { M1_ExitClick(); }
    void NotificationClicked() override;
    // A later start of the window asked for it: brought into sight as the tray's "Показать окно"
    // does; false once the window is closing.
    bool ShowForLaterStart();

    void RequestBegun() override;
    void RequestEnded(const TRequestEnd& end) override;

    void LogDate() override;
    void LogInfo(std::string text) override;
    void LogError(std::string text) override;
    void LogNotice(std::string text) override;
    void LogSend(std::string text) override;
    void LogReceive(std::string text) override;
    void ShowLinkStatus(uint8_t comPort, uint8_t slave, uint16_t deviceType, int32_t baud) override;

    bool ViewError() const override { return ViewErrorOn; }
    bool ViewSet() const override { return ViewSetOn; }
    bool ViewHex() const override { return ViewHexOn; }

    // Everything logged since start-up, with lines still on their way from other threads; on
    // the GUI thread.
    const TLogModel& Log();
    // The log as it is, for a view that draws it.
    const TLogModel& Model() const { return LogModel; }
    uint16_t ListeningPort() const;
    // True when start-up found that the server could not be set up: the program ends.
    bool StartRefused() const { return StartRefused_; }
    // The shutdown has run.
    bool Closed() const { return Closed_; }
    // The origin whose question is in view; empty when none is.
    const std::string& OriginAsked() const { return Questions.Current(); }

    // The monotonic clock, in milliseconds, on which a question's first half second is measured
    // (a press then does not answer it); tests replace it.
    std::function<uint64_t()> ClockMs = MonotonicMs;
    // The program that holds the port when the server cannot listen on it (TBridgeShell); the
    // program gives it, tests keep their start lines free of programs that run beside them.
    std::function<std::string(uint16_t port)> PortHolder;
    // The serial ports present, for the ports dialog; tests give a made-up tree's.
    std::function<TPortsListing()> ListPorts = ListMachinePorts;

private:
    // What the sites and ports dialogs read and change.
    friend class TWindowDialogs;

    void Write(TLogKind kind, std::string text);
    void AppendLine(TLogKind kind, const std::string& line, const TLocalTime& time);
    // Applies the log's memory limit and opens the daily files; the information line about
    // them, or empty when no daily files are kept.
    std::string OpenLogLimits(const TIniFile& settings);
    bool AskAboutOrigin(const std::string& origin);
    void ShowChecks();
    // The icon as the tray status says; a tray that has gone is told as TrayGone.
    void ShowTray();
    void ShowStartAtLogin();
    // Runs on the GUI thread, after the lines written before it.
    void PostToGuiThread(std::function<void()> task);
    // The shutdown steps; the report of settings that cannot be written as the cause allows.
    void Shutdown(TCloseCause cause);
    bool StoreSettings(TIniFile& settings);
    bool OnGuiThread() const { return std::this_thread::get_id() == GuiThread; }

    TWindowView& View;
    const std::string SettingsPath;
    const std::string SaveFolder;
    const uint16_t Port;
    const std::thread::id GuiThread;
    bool Started = false;
    bool StartRefused_ = false;
    bool Closed_ = false;
    // Set while the behaviour goes: its view may be gone before it.
    bool ViewGone = false;
    std::string LastSavePath;
    TOriginQuestions Questions;
    TTrayView* Tray = nullptr;
    TAutostart* Autostart = nullptr;
    TTrayStatus TrayStatus;
    // The icon is in the tray now.
    bool TrayShown = false;
    // The log has said that the desktop has no tray.
    bool NoTrayTold = false;
    // What the worker thread writes into, declared before the server so that they outlive it:
    // members go in the reverse order, and the server joins its worker when it goes.
    TMainThreadInbox Inbox;
    std::mutex StampLock;
    TLogModel LogModel;
    uint64_t DroppedShown = 0;
    std::string DailyFilesFolder;
    std::unique_ptr<TDailyLogFiles> DailyFiles;
    bool DailyFilesFailing = false;
    std::atomic<bool> ViewErrorOn{false};
    std::atomic<bool> ViewSetOn{false};
    std::atomic<bool> ViewHexOn{false};
    // The settings, the link and the server. Last, so that it goes first.
    std::unique_ptr<TBridgeStartup> Startup;
};
