#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "BridgeHost.h"
#include "BridgePort.h"
#include "LogLine.h"
#include "LogModel.h"
#include "MainThreadInbox.h"

class QAction;
class QLabel;
class QMenu;
class TBridgeServer;
class TDailyLogFiles;
class TIniFile;
class TLogView;
class TOriginQuestionBar;
class TRavo32;

// The main window: the event log, the menus, the four status panels; it owns the link, the
// settings file and the server, and is the host of the request road.
class TForm1 : public QMainWindow, public TBridgeHost {
public:
    static constexpr int kPanelWidths[4] = {50, 60, 70, 50};

    // Tests pass port 0 for a free port.
    explicit TForm1(std::string settingsPath, uint16_t port = kBridgePort,
                    QWidget* parent = nullptr);
    ~TForm1() override;

    // The log writers; any thread. Lines from other threads reach the log whole and in order.
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

    // Everything logged since start-up, with lines still on their way from other threads.
    const TLogModel& Log();
    uint16_t ListeningPort() const;
    // True when the first show found that the server could not be set up: the program ends.
    bool StartRefused() const { return StartRefused_; }

    // The save dialog: the chosen path, or none when the operator cancels. Tests replace it.
    std::function<std::optional<QString>(const QString& folder, const QString& lastPath)>
        AskSaveFileName;
    // The general error report, which waits for the operator. Tests replace it.
    std::function<void(const QString& text)> ReportError;
    // The same report beside the window, which goes on meanwhile (a server that could not open at
    // start-up). Tests replace it.
    std::function<void(const QString& text)> ReportErrorModeless;
    // The report of a failure while nobody may be there to click a box (standard error).
    // Tests replace it.
    std::function<void(const QString& text)> ReportUnattended;
    // The folder the save dialog starts in.
    QString SaveFolder;

    // A termination signal (a logout, a service stop): closes as "Выход" does, but nothing waits
    // for the operator, so the program ends even when the settings cannot be written or a dialog is
    // open.
    void CloseOnTerminationSignal();

    QMenu* M1_File = nullptr;
    QAction* M1_Save = nullptr;
    QAction* M1_Exit = nullptr;
    QMenu* M2_View = nullptr;
    QAction* M2_Error = nullptr;
    QAction* M2_Set = nullptr;
    QAction* M2_Hex = nullptr;
    QAction* M_Help = nullptr;
    std::array<QLabel*, 4> StatusPanels{};
    TLogView* RichEdit = nullptr;
    // Shown above the log with Origins=ask when a new page asks to drive the devices.
    TOriginQuestionBar* OriginQuestion = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormShow();
    void FormClose();
    void FormResize();
    void M1_SaveClick();
    void M1_ExitClick();
    void M2_ErrorClick();
    void M2_SetClick();
    void M2_HexClick();
    void M_HelpClick();
    void OriginAnswered(const std::string& origin, bool allowed);

    void Write(TLogKind kind, std::string text);
    void AppendLine(TLogKind kind, const std::string& line, const TLocalTime& time);
    // Applies the log's memory limit and opens the daily files; the information line about
    // them, or empty when no daily files are kept.
    std::string OpenLogLimits();
    bool OnGuiThread() const { return std::this_thread::get_id() == GuiThread; }
    bool SaveLog(const QString& path);
    bool StoreSettings();

    const std::string SettingsPath;
    const uint16_t Port;
    const std::thread::id GuiThread;
    bool Started = false;
    bool StartRefused_ = false;
    bool Closed = false;
    bool TerminationSignalled = false;
    QString LastSavePath;
    // What the worker thread writes into, declared before the server so that they outlive it:
    // members go in the reverse order, and the server joins its worker when it goes.
    TMainThreadInbox Inbox;
    std::mutex StampLock;
    TLogModel LogModel;
    std::unique_ptr<TDailyLogFiles> DailyFiles;
    bool DailyFilesFailing = false;
    std::atomic<bool> ViewErrorOn{false};
    std::atomic<bool> ViewSetOn{false};
    std::atomic<bool> ViewHexOn{false};
    std::unique_ptr<TRavo32> Link;
    std::unique_ptr<TIniFile> IniFile;
    // Last, so that it goes first.
    std::unique_ptr<TBridgeServer> ServerSocket;
};
