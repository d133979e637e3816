#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "Win32BesideReports.h"
#include "WindowView.h"

class TOriginBar;
class TRichEditLog;

// The main window on Windows, drawn with the Win32 API: the menu bar, the question bar for a
// new origin, a line about lines not in sight, the event log in a rich-text control, and the four
// status panels. It draws what its behaviour tells it (TWindowView) and passes the operator's
// actions in (TWindowEvents): every close (the close box, WM_CLOSE from anyone, the end of the
// session) goes to CloseRequested, and the window goes only when the behaviour calls
// CloseWindow. An exception from a handler is shown by the general error report and the program
// goes on.
class TWin32MainWindow : public TWindowView {
public:
    static constexpr int kMinimumWidth = 600;
    static constexpr int kMinimumHeight = 400;
    static constexpr int kStatusBarHeight = 19;
    static constexpr int kPanelWidths[4] = {50, 60, 70, 50};
    // The newest lines of the log that the rich-text control holds; saving writes every line
    // that the log holds.
    static constexpr size_t kShownLinesMax = 2000;

    // The menu commands, as WM_COMMAND carries them.
    enum TCommand : int {
        kSaveCommand = 101,
        kExitCommand = 102,
        kStartAtLoginCommand = 103,
        kViewErrorCommand = 201,
        kViewSetCommand = 202,
        kViewHexCommand = 203,
        kHelpCommand = 301,
        kSitesCommand = 401,
        kPortsCommand = 402,
    };

    // Created hidden; Show() starts it. Throws when the system cannot make the window.
    explicit TWin32MainWindow(TWindowEvents& events, size_t shownLinesMax = kShownLinesMax);
    ~TWin32MainWindow() override;
    TWin32MainWindow(const TWin32MainWindow&) = delete;
    TWin32MainWindow& operator=(const TWin32MainWindow&) = delete;

    // The first time, the behaviour's start-up (FormShow) runs before the window appears, and
    // the window comes up as the behaviour shows it (normal unless it says otherwise).
    void Show();
    // The window's own keys, for the message loop to offer each message before it translates and
    // dispatches it: Tab and Shift+Tab move the focus between the log and the question bar's
    // buttons, Enter presses the button that has the focus, Alt with a button's access letter
    // presses it. True when the message was one of them and has been handled.
    bool TakeKey(const MSG& message);
    // Whether WM_DESTROY ends the thread's message loop (PostQuitMessage): the program's window
    // does, a window that a test makes does not.
    bool QuitOnDestroy = true;

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

    // The window's parts, for the program and its tests; null once the window is closed.
    HWND Handle() const { return Window; }
    HMENU Menu() const { return MenuBar; }
    HWND LogControl() const;
    HWND StatusBar() const { return Status; }
    HWND NoticeLine() const { return Notice; }
    const TOriginBar& OriginBar() const { return *Question; }

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(int command);
    // Runs a handler of the behaviour; what it throws goes to the general error report.
    template <typename THandler>
    void Guarded(THandler handler);
    void CreateParts(size_t shownLinesMax);
    void LayOut();
    void UpdateNotice();
    void MoveFocus(bool backwards);

    TWindowEvents& Events;
    HWND Window = nullptr;
    HMENU MenuBar = nullptr;
    HWND Status = nullptr;
    HWND Notice = nullptr;
    HFONT WindowFont = nullptr;
    HFONT NoticeFont = nullptr;
    HBRUSH NoticeBackground = nullptr;
    std::unique_ptr<TRichEditLog> Log;
    std::unique_ptr<TOriginBar> Question;
    std::string BehaviourNotice;
    // What the line above the log says now; empty while it is hidden.
    std::string NoticeText;
    uint64_t ModelLines = 0;
    bool Started = false;
    // The behaviour has chosen how the window is shown.
    bool ShownAsTold = false;
    // The window is being shown as the behaviour said: its minimizing is no operator's.
    bool ShowingAsTold = false;
    TBesideReports BesideReports;
};
