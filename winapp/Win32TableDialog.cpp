#include "Win32TableDialog.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "DialogTexts.h"
#include "Win32Text.h"

namespace {

constexpr int kMargin = 8;
constexpr int kButtonPadding = 24;
constexpr LRESULT kColumnPadding = 12;
constexpr int kMinimumWidth = 560;
constexpr int kMinimumHeight = 320;
constexpr COLORREF kErrorText = RGB(0xB0, 0x00, 0x00);

// A dialog template without controls (they are made in WM_INITDIALOG, in pixels): a frame the
// operator can size, a caption, a close box; its size in dialog units.
std::vector<DWORD> EmptyTemplate(short width, short height) {
    std::vector<DWORD> storage(16, 0);
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(storage.data());
    dialog->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME | DS_CENTER;
    dialog->cx = width;
    dialog->cy = height;
    // The empty menu, class and title arrays that follow the header are the zeros already there.
    return storage;
}

HFONT MessageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return CreateFontIndirectW(&metrics.lfMessageFont);
    }
    return nullptr;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

SIZE TextSize(HWND window, HFONT font, const std::wstring& text, int wrapWidth) {
    const HDC context = GetDC(window);
    const HGDIOBJ previous = SelectObject(context, font);
    RECT bounds{0, 0, std::max(1, wrapWidth), 0};
    const UINT format = DT_CALCRECT | (wrapWidth > 0 ? DT_WORDBREAK | DT_NOPREFIX : DT_SINGLELINE);
    DrawTextW(context, text.empty() ? L" " : text.c_str(), -1, &bounds, format);
    SelectObject(context, previous);
    ReleaseDC(window, context);
    return {bounds.right - bounds.left, bounds.bottom - bounds.top};
}

}  // namespace

TWin32TableDialog::TWin32TableDialog(TLayout layout) : Layout(std::move(layout)) {}

TWin32TableDialog::~TWin32TableDialog() {
    if (Font != nullptr) {
        DeleteObject(Font);
    }
}

void TWin32TableDialog::Run(HWND owner) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    Font = MessageFont();
    const std::vector<DWORD> dialogTemplate = EmptyTemplate(400, 220);
    const INT_PTR result = DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()),
        owner, DialogProcedure, reinterpret_cast<LPARAM>(this));
    Dialog = nullptr;
    if (result == -1) {
        throw std::runtime_error("the dialog: " + Win32ErrorText(GetLastError()));
    }
}

INT_PTR CALLBACK TWin32TableDialog::DialogProcedure(HWND dialog, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto* self = reinterpret_cast<TWin32TableDialog*>(lParam);
        self->Dialog = dialog;
        self->CreateControls();
        self->LayOut();
        self->Guarded([self] {
            if (self->Opened) {
                self->Opened();
            }
        });
        return TRUE;
    }
    auto* self = reinterpret_cast<TWin32TableDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    return self == nullptr ? FALSE : self->OnMessage(message, wParam, lParam);
}

void TWin32TableDialog::CreateControls() {
    SetWindowTextW(Dialog, WideFromUtf8(Layout.Caption).c_str());
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const auto child = [&](const wchar_t* className, std::string_view text, DWORD style, int id,
                           DWORD extended = 0) {
        const HWND made = CreateWindowExW(
            extended, className, WideFromUtf8(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0,
            0, Dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        if (made == nullptr) {
            throw std::runtime_error("the dialog's parts: " + Win32ErrorText(GetLastError()));
        }
        SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
        return made;
    };
    Note = child(L"STATIC", Layout.Note, SS_LEFT | SS_NOPREFIX, kNoteId);
    List =
        child(WC_LISTVIEWW, "",
              LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_BORDER, kListId, 0);
    SendMessageW(List, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (size_t column = 0; column < Layout.Columns.size(); ++column) {
        std::wstring title = WideFromUtf8(Layout.Columns[column]);
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT | LVCF_WIDTH;
        item.pszText = title.data();
        item.cx = 100;
        SendMessageW(List, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&item));
    }
    if (!Layout.FieldLabel.empty()) {
        FieldLabel = child(L"STATIC", Layout.FieldLabel, SS_LEFT, kFieldLabelId);
        Field = child(L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER, kFieldId);
        if (!Layout.FieldHint.empty()) {
            const std::wstring hint = WideFromUtf8(Layout.FieldHint);
            SendMessageW(Field, EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(hint.c_str()));
        }
        FieldButton =
            child(L"BUTTON", Layout.FieldButton, BS_PUSHBUTTON | WS_TABSTOP, kFieldButtonId);
    }
    for (size_t index = 0; index < Layout.Buttons.size(); ++index) {
        Buttons.push_back(child(L"BUTTON", Layout.Buttons[index], BS_PUSHBUTTON | WS_TABSTOP,
                                kFirstButtonId + static_cast<int>(index)));
    }
    Close = child(L"BUTTON", DialogText::kClose, BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
    Message = child(L"STATIC", "", SS_LEFT | SS_NOPREFIX, kMessageId);
}

void TWin32TableDialog::LayOut() {
    if (Message == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(Dialog, &client);
    const int width = client.right - 2 * kMargin;
    const int line = TextSize(Dialog, Font, L"Ag", 0).cy;
    const int buttonHeight = line + 10;
    const int noteHeight = TextSize(Dialog, Font, TextOf(Note), width).cy;
    const int messageHeight = 2 * line + 4;
    int bottom = client.bottom - kMargin - messageHeight;
    MoveWindow(Message, kMargin, bottom, width, messageHeight, TRUE);
    bottom -= kMargin / 2 + buttonHeight;
    int left = kMargin;
    for (const HWND button : Buttons) {
        const int buttonWidth = TextSize(Dialog, Font, TextOf(button), 0).cx + kButtonPadding;
        MoveWindow(button, left, bottom, buttonWidth, buttonHeight, TRUE);
        left += buttonWidth + kMargin / 2;
    }
    const int closeWidth = TextSize(Dialog, Font, TextOf(Close), 0).cx + kButtonPadding;
    MoveWindow(Close, client.right - kMargin - closeWidth, bottom, closeWidth, buttonHeight, TRUE);
    if (Field != nullptr) {
        bottom -= kMargin / 2 + buttonHeight;
        const int labelWidth = TextSize(Dialog, Font, TextOf(FieldLabel), 0).cx + kMargin;
        const int fieldButtonWidth =
            TextSize(Dialog, Font, TextOf(FieldButton), 0).cx + kButtonPadding;
        MoveWindow(FieldLabel, kMargin, bottom + (buttonHeight - line) / 2, labelWidth, line, TRUE);
        MoveWindow(Field, kMargin + labelWidth, bottom,
                   std::max(0, width - labelWidth - fieldButtonWidth - kMargin / 2), buttonHeight,
                   TRUE);
        MoveWindow(FieldButton, client.right - kMargin - fieldButtonWidth, bottom, fieldButtonWidth,
                   buttonHeight, TRUE);
    }
    MoveWindow(Note, kMargin, kMargin, width, noteHeight, TRUE);
    const int listTop = 2 * kMargin + noteHeight;
    MoveWindow(List, kMargin, listTop, width, std::max(0, bottom - kMargin - listTop), TRUE);
}

void TWin32TableDialog::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        SetMessage(error.what(), true);
    } catch (...) {
        SetMessage("Unknown error", true);
    }
}

INT_PTR TWin32TableDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDCANCEL) {
                EndDialog(Dialog, 0);
                return TRUE;
            }
            // Enter: the field's button when the field has the keys, else nothing.
            const bool enterInField = id == IDOK && Field != nullptr && GetFocus() == Field;
            if ((id == kFieldButtonId && HIWORD(wParam) == BN_CLICKED) || enterInField) {
                if (IsWindowEnabled(FieldButton) && FieldButtonPressed) {
                    Guarded(FieldButtonPressed);
                }
                return TRUE;
            }
            const size_t button = static_cast<size_t>(id - kFirstButtonId);
            if (id >= kFirstButtonId && button < Buttons.size() && HIWORD(wParam) == BN_CLICKED &&
                ButtonPressed) {
                Guarded([this, button] { ButtonPressed(button); });
                return TRUE;
            }
            return id == IDOK ? TRUE : FALSE;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->hwndFrom == List && header->code == LVN_ITEMCHANGED && !Filling) {
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
                if ((change->uChanged & LVIF_STATE) != 0 &&
                    ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) != 0 &&
                    ChoiceChanged) {
                    Guarded(ChoiceChanged);
                }
            }
            return FALSE;
        }
        case WM_SIZE:
            LayOut();
            return TRUE;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize.x = kMinimumWidth;
            limits->ptMinTrackSize.y = kMinimumHeight;
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) == Message && MessageIsError) {
                const auto context = reinterpret_cast<HDC>(wParam);
                SetTextColor(context, kErrorText);
                SetBkMode(context, TRANSPARENT);
                return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void TWin32TableDialog::SetRows(const std::vector<std::vector<std::string>>& cells,
                                const std::vector<std::string>& keys) {
    const std::string chosen = ChosenKey();
    Filling = true;
    Keys = keys;
    SendMessageW(List, LVM_DELETEALLITEMS, 0, 0);
    for (size_t row = 0; row < cells.size(); ++row) {
        for (size_t column = 0; column < cells[row].size(); ++column) {
            std::wstring text = WideFromUtf8(cells[row][column]);
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(row);
            item.iSubItem = static_cast<int>(column);
            item.pszText = text.data();
            SendMessageW(List, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, row,
                         reinterpret_cast<LPARAM>(&item));
        }
        if (!chosen.empty() && keys[row] == chosen) {
            LVITEMW state{};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(List, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        }
    }
    // As wide as the widest cell or the title, whichever is wider; the last column takes the
    // rest of the list's width too.
    for (size_t column = 0; column + 1 < Layout.Columns.size(); ++column) {
        SendMessageW(List, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE);
        const LRESULT widest = SendMessageW(List, LVM_GETCOLUMNWIDTH, column, 0);
        SendMessageW(List, LVM_SETCOLUMNWIDTH, column, LVSCW_AUTOSIZE_USEHEADER);
        const LRESULT title = SendMessageW(List, LVM_GETCOLUMNWIDTH, column, 0);
        SendMessageW(List, LVM_SETCOLUMNWIDTH, column, std::max(widest, title) + kColumnPadding);
    }
    if (!Layout.Columns.empty()) {
        SendMessageW(List, LVM_SETCOLUMNWIDTH, Layout.Columns.size() - 1, LVSCW_AUTOSIZE_USEHEADER);
    }
    Filling = false;
    if (ChoiceChanged) {
        ChoiceChanged();
    }
}

std::string TWin32TableDialog::ChosenKey() const {
    const auto index = static_cast<int>(
        SendMessageW(List, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return index >= 0 && static_cast<size_t>(index) < Keys.size() ? Keys[static_cast<size_t>(index)]
                                                                  : std::string();
}

void TWin32TableDialog::SetMessage(const std::string& text, bool error) {
    MessageIsError = error;
    if (Message != nullptr) {
        SetWindowTextW(Message, WideFromUtf8(text).c_str());
        InvalidateRect(Message, nullptr, TRUE);
    }
}

std::string TWin32TableDialog::FieldText() const {
    return Field == nullptr ? std::string() : Utf8FromWide(TextOf(Field));
}

void TWin32TableDialog::SetFieldText(const std::string& text) {
    if (Field != nullptr) {
        SetWindowTextW(Field, WideFromUtf8(text).c_str());
    }
}

void TWin32TableDialog::EnableField(bool enabled) {
    if (Field != nullptr) {
        EnableWindow(Field, enabled ? TRUE : FALSE);
        EnableWindow(FieldButton, enabled ? TRUE : FALSE);
    }
}
