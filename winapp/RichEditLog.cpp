#include "RichEditLog.h"

#include <richedit.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "LogLine.h"
#include "Win32Text.h"

namespace {

constexpr wchar_t kFontName[] = L"Courier New";
constexpr char kRtfFontName[] = "Courier New";
constexpr int kFontPixels = 14;
// Asks for the end of the text: the control limits any position to it.
constexpr LONG kEnd = 0x7FFFFFFF;
constexpr std::array kAllKinds = {TLogKind::Date,   TLogKind::Info, TLogKind::Error,
                                  TLogKind::Notice, TLogKind::Send, TLogKind::Receive};

COLORREF ColourOf(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The font's size in half-points that makes characters 14 pixels high on this screen; RTF
// counts in half-points and the control in twips, so both ways in take this one.
int FontHalfPoints() {
    const HDC screen = GetDC(nullptr);
    const int halfPoints = MulDiv(kFontPixels, 144, GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return halfPoints;
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

// The lines [first, end) as an RTF document in the control's font, each line a group with its
// kind's colours and styles, its paragraph mark inside; every character beyond ASCII as its
// UTF-16 unit.
std::string ControlRtf(const TLogModel& log, uint64_t first, uint64_t end,
                       std::vector<LONG>& lengths) {
    std::vector<uint32_t> colours;
    const auto colourIndex = [&colours](uint32_t colour) {
        const auto found = std::find(colours.begin(), colours.end(), colour);
        if (found == colours.end()) {
            colours.push_back(colour);
            return colours.size();
        }
        return static_cast<size_t>(found - colours.begin()) + 1;
    };
    std::array<std::string, kAllKinds.size()> openings;
    for (const TLogKind kind : kAllKinds) {
        const TLogStyle& style = LogStyle(kind);
        const std::string background = std::to_string(colourIndex(style.Background));
        openings[static_cast<size_t>(kind)] =
            "{\\cf" + std::to_string(colourIndex(style.Text)) + "\\highlight" + background +
            "\\chcbpat" + background + (style.Bold ? "\\b" : "") + (style.Italic ? "\\i" : "") +
            (style.Underline ? "\\ul" : "") + (style.StrikeOut ? "\\strike" : "") + " ";
    }
    std::string rtf = "{\\rtf1\\ansi\\deff0\\uc1{\\fonttbl{\\f0\\fmodern ";
    rtf += kRtfFontName;
    rtf += ";}}{\\colortbl;";
    for (const uint32_t colour : colours) {
        rtf += "\\red" + std::to_string((colour >> 16) & 0xFF) + "\\green" +
               std::to_string((colour >> 8) & 0xFF) + "\\blue" + std::to_string(colour & 0xFF) +
               ";";
    }
    rtf += "}\\pard\\f0\\fs" + std::to_string(FontHalfPoints()) + "\n";
    for (uint64_t number = first; number < end; ++number) {
        const TLogModel::TLine line = log.Line(static_cast<size_t>(number - log.Dropped()));
        const size_t slot = static_cast<size_t>(line.Kind);
        rtf += openings[slot < openings.size() ? slot : static_cast<size_t>(TLogKind::Info)];
        const std::wstring text = ControlText(line.Text);
        lengths.push_back(static_cast<LONG>(text.size()));
        for (const wchar_t unit : text) {
            if (unit == L'\r') {
                rtf += "\\par";
            } else if (unit == L'\t') {
                rtf += "\\tab ";
            } else if (unit == L'\\' || unit == L'{' || unit == L'}') {
                rtf += '\\';
                rtf += static_cast<char>(unit);
            } else if (unit >= 0x20 && unit < 0x7F) {
                rtf += static_cast<char>(unit);
            } else {
                // RTF takes a UTF-16 unit as a signed 16-bit number.
                rtf += "\\u" + std::to_string(static_cast<int16_t>(unit)) + "?";
            }
        }
        rtf += "}\n";
    }
    rtf += "}";
    return rtf;
}

struct TRtfSource {
    const std::string& Text;
    size_t At = 0;
};

DWORD CALLBACK ReadRtf(DWORD_PTR cookie, LPBYTE buffer, LONG capacity, LONG* given) {
    auto* source = reinterpret_cast<TRtfSource*>(cookie);
    const size_t count = std::min(static_cast<size_t>(capacity), source->Text.size() - source->At);
    std::copy_n(source->Text.data() + source->At, count, buffer);
    source->At += count;
    *given = static_cast<LONG>(count);
    return 0;
}

// Characters as positions count them: a paragraph mark is one.
LONG TextLength(HWND control) {
    GETTEXTLENGTHEX request{GTL_NUMCHARS | GTL_PRECISE, 1200};
    return static_cast<LONG>(
        SendMessageW(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&request), 0));
}

LONG SelectionEnd(HWND control) {
    CHARRANGE range{};
    SendMessageW(control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    return range.cpMax;
}

void Select(HWND control, LONG from, LONG to) {
    CHARRANGE range{from, to};
    SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

}  // namespace

TRichEditLog::TRichEditLog(HWND parent, int controlId, size_t shownLinesMax)
    : Parent(parent),
      ControlId(controlId),
      ShownLinesMax(std::max<size_t>(shownLinesMax, 4)),
      ShownLinesDropped(ShownLinesMax / 4) {
    Library = LoadLibraryW(L"Msftedit.dll");
    if (Library == nullptr) {
        throw std::runtime_error("Msftedit.dll: " + Win32ErrorText(GetLastError()));
    }
    Control = MakeControl(RECT{});
}

HWND TRichEditLog::MakeControl(const RECT& place) const {
    const HWND control =
        CreateWindowExW(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                            ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL,
                        place.left, place.top, place.right - place.left, place.bottom - place.top,
                        Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId)),
                        GetModuleHandleW(nullptr), nullptr);
    if (control == nullptr) {
        throw std::runtime_error("the log control: " + Win32ErrorText(GetLastError()));
    }
    // Without a limit of its own the control stops at 32767 characters.
    SendMessageW(control, EM_EXLIMITTEXT, 0, kEnd - 1);
    // No word wrap: one line of the log, one line of the control.
    SendMessageW(control, EM_SETTARGETDEVICE, 0, 1);
    SendMessageW(control, EM_SETUNDOLIMIT, 0, 0);
    SendMessageW(control, EM_SETBKGNDCOLOR, 0, RGB(255, 255, 255));
    CHARFORMAT2W font = FormatOf(kDefaultLogStyle);
    font.dwMask |= CFM_FACE | CFM_SIZE | CFM_CHARSET;
    font.yHeight = FontHalfPoints() * 10;
    font.bCharSet = DEFAULT_CHARSET;
    wcscpy_s(font.szFaceName, LF_FACESIZE, kFontName);
    SendMessageW(control, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&font));
    SendMessageW(control, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&font));
    return control;
}

TRichEditLog::~TRichEditLog() {
    if (Control != nullptr && IsWindow(Control)) {
        DestroyWindow(Control);
    }
    // The library stays loaded: the control's class must outlive every control of it.
}

void TRichEditLog::ShowLines(const TLogModel& log) {
    ModelFirst = log.Dropped();
    const uint64_t modelEnd = ModelFirst + log.Size();
    uint64_t first = std::max(ShownFirst, ModelFirst);
    if (modelEnd - first > ShownLinesMax) {
        first = modelEnd - (ShownLinesMax - ShownLinesDropped);
    }
    if (first > ShownFirst) {
        Rebuild(log, first, modelEnd);
    } else if (modelEnd > ShownEnd) {
        Append(log, modelEnd);
    }
}

void TRichEditLog::Append(const TLogModel& log, uint64_t end) {
    // Drawing waits for the whole change: a control that draws after every step takes
    // milliseconds a line.
    SendMessageW(Control, WM_SETREDRAW, FALSE, 0);
    const bool following = AtBottom();
    CHARRANGE selection{};
    SendMessageW(Control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    POINT scroll{};
    SendMessageW(Control, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));

    Select(Control, kEnd, kEnd);
    LONG at = SelectionEnd(Control);
    for (; ShownEnd < end; ++ShownEnd) {
        const TLogModel::TLine line = log.Line(static_cast<size_t>(ShownEnd - log.Dropped()));
        const CHARFORMAT2W format = FormatOf(LogStyle(line.Kind));
        SendMessageW(Control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        const std::wstring text = ControlText(line.Text);
        // Not recorded for undo.
        SendMessageW(Control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
        // The control's own count, whatever it made of the characters.
        const LONG after = SelectionEnd(Control);
        Lengths.push_back(after - at);
        at = after;
    }
    // Whatever is inserted at the end next starts in the default format.
    const CHARFORMAT2W plain = FormatOf(kDefaultLogStyle);
    SendMessageW(Control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&plain));

    SendMessageW(Control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    if (following) {
        ScrollToBottom();
    } else {
        SendMessageW(Control, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    }
    SendMessageW(Control, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(Control, nullptr, TRUE);
}

void TRichEditLog::Rebuild(const TLogModel& log, uint64_t first, uint64_t end) {
    const HWND old = Control;
    const bool following = AtBottom();
    const bool focused = GetFocus() == old;
    CHARRANGE selection{};
    SendMessageW(old, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    POINT scroll{};
    SendMessageW(old, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    const auto firstInSight =
        static_cast<uint64_t>(SendMessageW(old, EM_GETFIRSTVISIBLELINE, 0, 0));
    const size_t dropped =
        static_cast<size_t>(std::min<uint64_t>(first - ShownFirst, Lengths.size()));
    const LONG droppedCharacters = std::accumulate(
        Lengths.begin(), Lengths.begin() + static_cast<ptrdiff_t>(dropped), LONG{0});
    RECT place{};
    GetWindowRect(old, &place);
    MapWindowPoints(nullptr, Parent, reinterpret_cast<POINT*>(&place), 2);

    Control = MakeControl(place);
    SendMessageW(Control, WM_SETREDRAW, FALSE, 0);
    std::vector<LONG> lengths;
    const std::string rtf = ControlRtf(log, first, end, lengths);
    TRtfSource source{rtf};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, ReadRtf};
    SendMessageW(Control, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    // The control may take the stream's last line end for the end of its text, which it does not
    // count: that line end goes back in, or the next line would join the last.
    const LONG streamed = std::accumulate(lengths.begin(), lengths.end(), LONG{0});
    if (TextLength(Control) + 1 == streamed) {
        const TLogModel::TLine last = log.Line(static_cast<size_t>(end - 1 - log.Dropped()));
        const CHARFORMAT2W format = FormatOf(LogStyle(last.Kind));
        Select(Control, kEnd, kEnd);
        SendMessageW(Control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        SendMessageW(Control, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"\r"));
    }
    Lengths.assign(lengths.begin(), lengths.end());
    ShownFirst = first;
    ShownEnd = end;

    // Laid out from here on, so that positions can be asked for.
    SendMessageW(Control, WM_SETREDRAW, TRUE, 0);
    DestroyWindow(old);
    if (focused) {
        SetFocus(Control);
    }

    // The operator's selection stays with its text; one that went with the dropped lines ends.
    selection.cpMin = std::max<LONG>(0, selection.cpMin - droppedCharacters);
    selection.cpMax = std::max<LONG>(0, selection.cpMax - droppedCharacters);
    SendMessageW(Control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    if (following) {
        ScrollToBottom();
    } else {
        // The line at the top of the view stays there, if it stayed at all.
        const size_t top = firstInSight > dropped ? static_cast<size_t>(firstInSight - dropped) : 0;
        const LONG topStart = std::accumulate(
            Lengths.begin(),
            Lengths.begin() + static_cast<ptrdiff_t>(std::min(top, Lengths.size())), LONG{0});
        POINTL at{};
        POINTL origin{};
        SendMessageW(Control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&origin), 0);
        SendMessageW(Control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), topStart);
        POINT kept{scroll.x, at.y - origin.y};
        SendMessageW(Control, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&kept));
    }
    InvalidateRect(Control, nullptr, TRUE);
}

bool TRichEditLog::AtBottom() const {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(Control, SB_VERT, &info) || info.nPage == 0) {
        return true;
    }
    // The last position is nMax - nPage + 1 on Windows and nMax - nPage under wine: both count.
    return info.nPos + static_cast<int>(info.nPage) >= info.nMax;
}

void TRichEditLog::ScrollToBottom() {
    SendMessageW(Control, WM_VSCROLL, SB_BOTTOM, 0);
}

void TRichEditLog::Place(int left, int top, int width, int height) {
    const bool following = AtBottom();
    MoveWindow(Control, left, top, width, height, TRUE);
    if (following) {
        ScrollToBottom();
    }
}
