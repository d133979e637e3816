#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The question about a page that asks to drive the devices, a bar inside the main window with
// the question and the buttons "Разрешить" and "Запретить". It stops nothing while it is shown.
class TOriginBar {
public:
    // Pressed gets the origin asked about and the button pressed (a click, Space, Enter or the
    // access key); the bar stays as it is until it is told otherwise (Ask).
    TOriginBar(HWND parent, HFONT font,
               std::function<void(const std::string& origin, bool allowed)> pressed);
    ~TOriginBar();
    TOriginBar(const TOriginBar&) = delete;
    TOriginBar& operator=(const TOriginBar&) = delete;

    // Shows the question about this origin in place of any other; empty hides the bar.
    void Ask(const std::string& origin);
    const std::string& Origin() const { return Origin_; }
    bool Shown() const { return !Origin_.empty(); }

    // Enter on a button of the bar presses it; true when the window is one.
    bool PressFocused(HWND focused);
    // Alt with a button's access letter (the one after '&' in its text, in either case) presses
    // it, without moving the focus; true when the letter is one of the buttons' while the bar is
    // shown.
    bool PressAccessKey(wchar_t letter);

    // The height the bar needs at this width, the question's text wrapped.
    int HeightFor(int width) const;
    void Place(int left, int top, int width, int height);

    HWND Handle() const { return Bar; }
    HWND Question() const { return QuestionText; }
    HWND AllowButton() const { return Allow; }
    HWND DenyButton() const { return Deny; }

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Press(bool allowed);
    void LayOut();

    HWND Bar = nullptr;
    HWND QuestionText = nullptr;
    HWND Allow = nullptr;
    HWND Deny = nullptr;
    HFONT Font = nullptr;
    HBRUSH Background = nullptr;
    std::string Origin_;
    std::function<void(const std::string&, bool)> Pressed;
};
