#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What the sites and ports dialogs share on Windows: a dialog over the main window with a note,
// a report list whose rows are chosen whole, perhaps a line where the operator types with its
// button, a row of buttons with "Закрыть", and the line that tells what an action did. Rows have
// keys that keep the operator's choice while the list is filled again. Tab, Enter (in the field:
// its button), Escape and the access keys work as in every dialog.
class TWin32TableDialog {
public:
    struct TLayout {
        std::string_view Caption;
        std::string Note;
        std::vector<std::string_view> Columns;
        // No field when empty; the hint shows in the empty field.
        std::string_view FieldLabel;
        std::string_view FieldHint;
        std::string_view FieldButton;
        // Left of "Закрыть", in this order.
        std::vector<std::string_view> Buttons;
    };

    // The control ids, for the window driver of the tests.
    enum TControl : int {
        kNoteId = 100,
        kListId = 101,
        kFieldLabelId = 102,
        kFieldId = 103,
        kFieldButtonId = 104,
        kMessageId = 105,
        kFirstButtonId = 110,
    };

    explicit TWin32TableDialog(TLayout layout);
    ~TWin32TableDialog();
    TWin32TableDialog(const TWin32TableDialog&) = delete;
    TWin32TableDialog& operator=(const TWin32TableDialog&) = delete;

    // Shows the dialog over the owner until the operator closes it; the handlers below run
    // meanwhile. Throws when the system cannot make it.
    void Run(HWND owner);

    // The controls exist: the first filling.
    std::function<void()> Opened;
    // A button of the row (its index in Buttons), or the field's button (Enter in the field too).
    std::function<void(size_t button)> ButtonPressed;
    std::function<void()> FieldButtonPressed;
    // Another row was chosen, or none.
    std::function<void()> ChoiceChanged;

    // The rows' cells and keys (one each); the row whose key was chosen stays chosen.
    void SetRows(const std::vector<std::vector<std::string>>& cells,
                 const std::vector<std::string>& keys);
    // The key of the row chosen; empty when none is.
    std::string ChosenKey() const;
    void SetMessage(const std::string& text, bool error);
    std::string FieldText() const;
    void SetFieldText(const std::string& text);
    void EnableField(bool enabled);

    HWND Handle() const { return Dialog; }

private:
    static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void LayOut();
    // Runs a handler; what it throws is shown in the message line.
    void Guarded(const std::function<void()>& handler);

    TLayout Layout;
    HWND Dialog = nullptr;
    HWND List = nullptr;
    HWND Note = nullptr;
    HWND FieldLabel = nullptr;
    HWND Field = nullptr;
    HWND FieldButton = nullptr;
    HWND Message = nullptr;
    HWND Close = nullptr;
    std::vector<HWND> Buttons;
    HFONT Font = nullptr;
    bool MessageIsError = false;
    // While the list is filled again: its changes of choice are not the operator's.
    bool Filling = false;
    std::vector<std::string> Keys;
};
