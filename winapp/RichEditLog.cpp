#include "RichEditLog.h"

#include <richedit.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "LogLine.h"
#include "Win32SystemLibraries.h"
#include "Win32Text.h"

namespace {

constexpr wchar_t kFontName[] = L"Courier New";
constexpr int kFontPixels = 14;
constexpr int kTabColumns = 8;
// Asks for the end of the text: the control limits any position to it.
constexpr LONG kEnd = 0x7FFFFFFF;

COLORREF ColourOf(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

CHARFORMAT2W FormatOf(const TLogStyle& style) {
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask =
        CFM_COLOR | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_BACKCOLOR;
    format.crTextColor = ColourOf(style.Text);
    format.crBackColor = ColourOf(style.Background);
    format.dwEffects = (style.Bold ? CFE_BOLD : 0) | (style.Italic ? CFE_ITALIC : 0) |
                       (style.Underline ? CFE_UNDERLINE : 0) |
                       (style.StrikeOut ? CFE_STRIKEOUT : 0);
    return format;
}

// A line of the model as one line of the control, ended by its paragraph mark: line breaks and
// other control characters inside the text are shown as spaces (the control would break the line
// there, or end the text at a NUL); a TAB stays.
std::wstring ControlText(std::string_view text) {
    std::wstring shown = WideFromUtf8(text);
    for (wchar_t& unit : shown) {
        if ((unit < 0x20 && unit != L'\t') || unit == 0x7F || unit == 0x2028 || unit == 0x2029) {
            unit = L' ';
        }
    }
    shown.push_back(L'\r');
    return shown;
}

CHARRANGE Selection(HWND control) {
    CHARRANGE range{};
    SendMessageW(control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return range;
}

void Select(HWND control, LONG from, LONG to) {
    CHARRANGE range{from, to};
    SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

POINT ScrollPosition(HWND control) {
    POINT scroll{};
    SendMessageW(control, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    return scroll;
}

void ScrollTo(HWND control, POINT scroll) {
    SendMessageW(control, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
}

// The vertical distance, in pixels, from the first character to this one.
LONG HeightAbove(HWND control, LONG position) {
    POINTL first{};
    POINTL at{};
    SendMessageW(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&first), 0);
    SendMessageW(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), position);
    return at.y - first.y;
}

// A tab stop every eight characters of the log's font, as a terminal has them, so that the text
// after a time stamp starts in one column whatever the line's style. Set while the control is
// empty, every line inserted after takes them.
void SetTabStops(HWND control) {
    const HDC screen = GetDC(nullptr);
    const HFONT font = CreateFontW(-kFontPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, kFontName);
    const HGDIOBJ previous = SelectObject(screen, font);
    SIZE digit{};
    GetTextExtentPoint32W(screen, L"0", 1, &digit);
    const int twipsPerPixel = 1440 / GetDeviceCaps(screen, LOGPIXELSX);
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    PARAFORMAT2 paragraph{};
    paragraph.cbSize = sizeof paragraph;
    paragraph.dwMask = PFM_TABSTOPS;
    paragraph.cTabCount = MAX_TAB_STOPS;
    for (int stop = 0; stop < MAX_TAB_STOPS; ++stop) {
        paragraph.rgxTabs[stop] = (stop + 1) * kTabColumns * digit.cx * twipsPerPixel;
    }
    SendMessageW(control, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
}

}  // namespace

TRichEditLog::TRichEditLog(HWND parent, int controlId, size_t shownLinesMax)
    : ShownLinesMax(std::max<size_t>(shownLinesMax, 10)), ShownLinesDropped(ShownLinesMax / 10) {
    // Loaded for good: the control's class must outlive every control of it.
    if (LoadSystemLibrary(L"Msftedit.dll") == nullptr) {
        throw std::runtime_error("Msftedit.dll: " + Win32ErrorText(GetLastError()));
    }
    Control = CreateWindowExW(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                  ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL,
                              0, 0, 0, 0, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                              GetModuleHandleW(nullptr), nullptr);
    if (Control == nullptr) {
        throw std::runtime_error("the log control: " + Win32ErrorText(GetLastError()));
    }
    // Without a limit of its own the control stops at 32767 characters.
    SendMessageW(Control, EM_EXLIMITTEXT, 0, kEnd - 1);
    // No word wrap: one line of the log, one line of the control.
    SendMessageW(Control, EM_SETTARGETDEVICE, 0, 1);
    SendMessageW(Control, EM_SETUNDOLIMIT, 0, 0);
    SendMessageW(Control, EM_SETBKGNDCOLOR, 0, RGB(255, 255, 255));
    CHARFORMAT2W font = FormatOf(kDefaultLogStyle);
    font.dwMask |= CFM_FACE | CFM_SIZE | CFM_CHARSET;
    const HDC screen = GetDC(nullptr);
    // The height in twips that makes characters 14 pixels high on this screen.
    font.yHeight = MulDiv(kFontPixels, 1440, GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    font.bCharSet = DEFAULT_CHARSET;
    wcscpy_s(font.szFaceName, LF_FACESIZE, kFontName);
    SendMessageW(Control, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&font));
    SendMessageW(Control, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&font));
    SetTabStops(Control);
}

TRichEditLog::~TRichEditLog() {
    if (IsWindow(Control)) {
        DestroyWindow(Control);
    }
}

void TRichEditLog::ShowLines(const TLogModel& log) {
    ModelFirst = log.Dropped();
    const uint64_t modelEnd = ModelFirst + log.Size();
    uint64_t first = std::max(ShownFirst, ModelFirst);
    if (modelEnd - first > ShownLinesMax) {
        first = modelEnd - (ShownLinesMax - ShownLinesDropped);
    }
    if (first == ShownFirst && modelEnd == ShownEnd) {
        return;
    }

    // Drawing waits for the whole change: a control that draws after every step takes
    // milliseconds a line.
    SendMessageW(Control, WM_SETREDRAW, FALSE, 0);
    const bool following = AtBottom();
    CHARRANGE selection = Selection(Control);
    POINT scroll = ScrollPosition(Control);

    const TDropped gone =
        DropOldest(first >= ShownEnd ? Lengths.size() : static_cast<size_t>(first - ShownFirst));
    ShownFirst = first;
    ShownEnd = std::max(ShownEnd, first);
    Append(log, modelEnd);

    // The operator's selection stays with its text; one that went with the dropped lines ends.
    selection.cpMin = std::max<LONG>(0, selection.cpMin - gone.Characters);
    selection.cpMax = std::max<LONG>(0, selection.cpMax - gone.Characters);
    SendMessageW(Control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    // Inserting a line moves the view to its end; the operator's place across stays, and the
    // lines in sight stay in sight while older ones go.
    if (following) {
        ScrollToBottom(scroll.x);
    } else {
        scroll.y = std::max<LONG>(0, scroll.y - gone.Height);
        ScrollTo(Control, scroll);
    }
    SendMessageW(Control, WM_SETREDRAW, TRUE, 0);
    // The frame too: the scroll bars that came, went or moved while drawing waited are painted
    // nowhere else, and the strip a new bar takes would keep the text it showed before.
    RedrawWindow(Control, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE);
}

TRichEditLog::TDropped TRichEditLog::DropOldest(size_t count) {
    count = std::min(count, Lengths.size());
    TDropped gone;
    for (size_t index = 0; index < count; ++index) {
        gone.Characters += Lengths.front();
        Lengths.pop_front();
    }
    if (gone.Characters > 0) {
        gone.Height = HeightAbove(Control, gone.Characters);
        Select(Control, 0, gone.Characters);
        SendMessageW(Control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    return gone;
}

void TRichEditLog::Append(const TLogModel& log, uint64_t end) {
    if (ShownEnd >= end) {
        return;
    }
    Select(Control, kEnd, kEnd);
    LONG at = Selection(Control).cpMax;
    for (; ShownEnd < end; ++ShownEnd) {
        const TLogModel::TLine line = log.Line(static_cast<size_t>(ShownEnd - log.Dropped()));
        const CHARFORMAT2W format = FormatOf(LogStyle(line.Kind));
        SendMessageW(Control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        const std::wstring text = ControlText(line.Text);
        // Not recorded for undo.
        SendMessageW(Control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
        // The control's own count, whatever it made of the characters.
        const LONG after = Selection(Control).cpMax;
        Lengths.push_back(after - at);
        at = after;
    }
    // Whatever is inserted at the end next starts in the default format.
    const CHARFORMAT2W plain = FormatOf(kDefaultLogStyle);
    SendMessageW(Control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&plain));
}

bool TRichEditLog::AtBottom() const {
    // Without its bar the whole text is in sight. The bar's numbers stay as they were when it
    // went: they would tell a place the view left when it grew.
    if ((GetWindowLongW(Control, GWL_STYLE) & WS_VSCROLL) == 0) {
        return true;
    }
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(Control, SB_VERT, &info) || info.nPage == 0) {
        return true;
    }
    // The last position is nMax - nPage + 1 on Windows and nMax - nPage under wine: both count.
    return info.nPos + static_cast<int>(info.nPage) >= info.nMax;
}

void TRichEditLog::ScrollToBottom(LONG horizontal) {
    SendMessageW(Control, WM_VSCROLL, SB_BOTTOM, 0);
    POINT bottom = ScrollPosition(Control);
    bottom.x = horizontal;
    ScrollTo(Control, bottom);
}

void TRichEditLog::Place(int left, int top, int width, int height) {
    const bool following = AtBottom();
    const POINT scroll = ScrollPosition(Control);
    MoveWindow(Control, left, top, width, height, TRUE);
    if (following) {
        ScrollToBottom(scroll.x);
    }
}
