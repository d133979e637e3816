#pragma once

#include <array>
#include <optional>
#include <string>

#include "LogModel.h"

class TPortsDialog;
class TSitesDialog;

// The main window as its behaviour sees it, whatever toolkit draws it: the Qt window on Linux,
// the Win32 window on Windows. The behaviour decides every text, check mark and state; a view
// only draws what it is told and passes the operator's actions in (TWindowEvents). Every call
// comes on the GUI thread; texts and paths are UTF-8.

// Where the window is and how big, in screen pixels, as the settings file keeps them
// (WindowsLeft, WindowsTop, WindowsWidth, WindowsHeight). Each toolkit measures as it always has
// (the Win32 window: its outer frame); what a view is given, it gives back.
struct TWindowPlacement {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

    bool operator==(const TWindowPlacement&) const = default;
};

// One item of the View menu: its check mark and whether the operator can choose it.
struct TMenuCheck {
    bool Checked = false;
    bool Enabled = true;

    bool operator==(const TMenuCheck&) const = default;
};

// The View menu's three items: "Только ошибки", "Параметры связи", "HEX данные".
struct TViewChecks {
    TMenuCheck ViewError;
    TMenuCheck ViewSet;
    TMenuCheck ViewHex;

    bool operator==(const TViewChecks&) const = default;
};

// How the general error report reaches the operator.
enum class TReportKind {
    // A message box; the call returns when the operator has closed it.
    Waiting,
    // The same box beside the window: the call returns at once, and the window goes on (and can
    // close, the box with it) while the box is open.
    Beside,
    // No box: nobody may be there to close it (a logout, a shutdown). Standard error.
    Unattended,
};

// How the window is shown.
enum class TWindowShown {
    // In sight, neither minimized nor hidden, brought in front of the other windows.
    Normal,
    // Minimized, with its button on the taskbar.
    Minimized,
    // Out of sight and off the taskbar: only the tray icon brings it back.
    Hidden,
};

class TWindowView {
public:
    virtual ~TWindowView() = default;

    // The log changed: lines were appended at its end, and its oldest lines may have gone to keep
    // it within its memory limit (log.Dropped() grew). Shows it as it is now: the new lines in
    // order, each in its kind's colours and styles (LogStyle) and its text as the model holds
    // it; lines the model dropped leave the view too. The view keeps showing the newest line
    // unless the operator has scrolled away from it. The model outlives the view.
    virtual void ShowLogLines(const TLogModel& log) = 0;
    // One information line kept in sight above the log (how many old lines went, and where they
    // are kept); empty hides it.
    virtual void ShowLogNotice(const std::string& text) = 0;

    // The four status panels, left to right (LinkStatusTexts); empty texts clear them.
    virtual void ShowStatusPanels(const std::array<std::string, 4>& texts) = 0;

    // The check marks and enabled states of the View menu.
    virtual void ShowViewChecks(const TViewChecks& checks) = 0;

    // The question about a page's origin, inside the window above the log, with "Разрешить" and
    // "Запретить"; it stops nothing. A new origin takes the place of the one shown; an empty
    // origin hides the question. Each press of a button comes as TWindowEvents::OriginAnswered
    // and changes nothing in the view: the behaviour then hides the question or shows the next.
    // The buttons are reached by Tab and by their access keys (Alt+Р, Alt+З), but a question
    // never takes the keyboard focus: the focus stays where it was when one comes, and leaves
    // the buttons (for the log) when the question changes or goes.
    virtual void ShowOriginQuestion(const std::string& origin) = 0;

    // The general error report.
    virtual void ShowErrorReport(const std::string& text, TReportKind kind) = 0;

    // The save dialog, starting in the folder, offering the last chosen path (empty at the first
    // save): the chosen path, or none when the operator cancels. Waits for the operator.
    virtual std::optional<std::string> AskSavePath(const std::string& folder,
                                                   const std::string& lastPath) = 0;

    // Puts the window there in the normal state (neither minimized nor maximized); a size below
    // the window's minimum gives the minimum.
    virtual void PlaceWindow(const TWindowPlacement& placement) = 0;
    // Where the window is while it is in the normal state; none while it is minimized or
    // maximized. What PlaceWindow was given comes back unchanged while the operator did nothing.
    virtual std::optional<TWindowPlacement> NormalPlacement() const = 0;

    // Shows the window so. Until the behaviour first calls it, a view shows its window as it
    // always did (normal) when it is shown.
    virtual void ShowWindowAs(TWindowShown shown) = 0;
    // Whether the window is in sight: shown, and not minimized.
    virtual bool WindowInSight() const = 0;

    // The check mark of "Файл" → "Запускать при входе в систему".
    virtual void ShowStartAtLoginCheck(bool checked) = 0;

    // The About box: without an owner, one OK button, no icon. Waits for the operator.
    virtual void ShowAboutBox(const std::string& caption, const std::string& text) = 0;

    // The sites and the ports dialog over the window: the view draws what the dialog tells it
    // (Attach) and passes the operator's actions to it until the operator closes it, then
    // detaches. Waits for the operator; the server goes on meanwhile.
    virtual void RunSitesDialog(TSitesDialog& dialog) = 0;
    virtual void RunPortsDialog(TPortsDialog& dialog) = 0;

    // Closes the window for good; the program's event loop ends. The behaviour calls it once,
    // after its shutdown steps.
    virtual void CloseWindow() = 0;
};

// Why the window is asked to close.
enum class TCloseCause {
    // The operator: the close box, Alt+F4, "Выход".
    Operator,
    // The session ends (a logout, a shutdown) or another program tells the program to stop (a
    // termination signal; on Windows a WM_CLOSE that no command of the operator sent, as
    // taskkill does): the process ends soon after, and nothing may wait for the operator.
    SessionEnd,
};

// What a view passes in: the first showing, the close request, the menu commands and the answer to
// the origin question. The behaviour implements it; each call comes on the GUI thread.
class TWindowEvents {
public:
    virtual ~TWindowEvents() = default;

    // The window is about to be shown for the first time: start-up.
    virtual void FormShow() = 0;
    // The one way in for every close: the behaviour runs its shutdown steps and then calls
    // TWindowView::CloseWindow; a view never closes on its own. May come more than once.
    virtual void CloseRequested(TCloseCause cause) = 0;

    // "Файл" → "Сохранить", "Запускать при входе в систему", "Выход".
    virtual void M1_SaveClick() = 0;
    virtual void M1_StartAtLoginClick() = 0;
    virtual void M1_ExitClick() = 0;
    // "Вид" → "Только ошибки", "Параметры связи", "HEX данные": a click on an item, whatever its
    // check mark shows; the behaviour sets the marks (ShowViewChecks).
    virtual void M2_ErrorClick() = 0;
    virtual void M2_SetClick() = 0;
    virtual void M2_HexClick() = 0;
    // "?".
    virtual void M_HelpClick() = 0;
    // "Сервис" → "Сайты…", "Порты…" (also from the tray): the dialog, until the operator closes it.
    virtual void M3_SitesClick() = 0;
    virtual void M3_PortsClick() = 0;

    // The operator minimized the window (its button, the taskbar, a key).
    virtual void WindowMinimized() = 0;

    // "Разрешить" (allowed) or "Запретить" pressed for the origin question shown, by the mouse
    // or by a key; the behaviour decides whether the press answers it.
    virtual void OriginAnswered(const std::string& origin, bool allowed) = 0;
};
