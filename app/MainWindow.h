#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "BridgePort.h"
#include "WindowBehaviour.h"
#include "WindowView.h"

class QAction;
class QLabel;
class QMenu;
class TLogView;
class TOriginQuestionBar;

// The main window on Linux, drawn with Qt: the event log, the menus, the four status panels and
// the question bar. It draws what its behaviour (TWindowBehaviour, which it owns) tells it and
// passes the operator's actions in.
class TForm1 : public QMainWindow, public TWindowView {
public:
    static constexpr int kPanelWidths[4] = {50, 60, 70, 50};

    // Tests pass port 0 for a free port.
    explicit TForm1(std::string settingsPath, uint16_t port = kBridgePort,
                    QWidget* parent = nullptr);
    ~TForm1() override;

    // What the window does: the log writers, the view options, the server.
    TWindowBehaviour& Behaviour() { return *Behaviour_; }
    // Whether the window's close ends the program's event loop. The program's window does:
    // it does not wait for the last window to close, since a box closed while the window hides
    // in the tray would be the last one. A window that a test makes does not.
    bool QuitOnClose = false;
    // Starts the behaviour, which shows the window as it decides (in sight, or hidden in the
    // tray when started at login); show() starts it too, in sight.
    void Start();

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

    // A termination signal (a logout, a service stop): closes as "Выход" does, but nothing waits
    // for the operator, so the program ends even when the settings cannot be written or a dialog is
    // open.
    void CloseOnTerminationSignal();

    void ShowLogLines(const TLogModel& log) override;
    void ShowLogNotice(const std::string& text) override;
    void ShowStatusPanels(const std::array<std::string, 4>& texts) override;
    void ShowViewChecks(const TViewChecks& checks) override;
    void ShowOriginQuestion(const std::string& origin) override;
    void ShowErrorReport(const std::string& text, TReportKind kind) override;
    std::optional<std::string> AskSavePath(const std::string& folder,
                                           const std::string& lastPath) override;
    void PlaceWindow(const TWindowPlacement& placement) override;
    std::optional<TWindowPlacement> NormalPlacement() const override;
    void ShowWindowAs(TWindowShown shown) override;
    bool WindowInSight() const override;
    void ShowStartAtLoginCheck(bool checked) override;
    void ShowAboutBox(const std::string& caption, const std::string& text) override;
    void RunSitesDialog(TSitesDialog& dialog) override;
    void RunPortsDialog(TPortsDialog& dialog) override;
    void CloseWindow() override;

    QMenu* M1_File = nullptr;
    QAction* M1_Save = nullptr;
    QAction* M1_StartAtLogin = nullptr;
    QAction* M1_Exit = nullptr;
    QMenu* M2_View = nullptr;
    QAction* M2_Error = nullptr;
    QAction* M2_Set = nullptr;
    QAction* M2_Hex = nullptr;
    QAction* M_Help = nullptr;
    QMenu* M3_Service = nullptr;
    QAction* M3_Sites = nullptr;
    QAction* M3_Ports = nullptr;
    std::array<QLabel*, 4> StatusPanels{};
    TLogView* RichEdit = nullptr;
    // Shown above the log with Origins=ask when a new page asks to drive the devices.
    TOriginQuestionBar* OriginQuestion = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    std::unique_ptr<TWindowBehaviour> Behaviour_;
    // The behaviour has run its shutdown and let the window go.
    bool CloseAllowed = false;
    bool InCloseEvent = false;
    bool Destroying = false;
};
