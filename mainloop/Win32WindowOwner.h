#pragma once

#include <windows.h>

// The object a window was made for: its creation parameter, kept in the window's user data from
// WM_NCCREATE on. Null for the messages that come before that, and once the owner let go.
template <typename TOwner>
TOwner* WindowOwner(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    return reinterpret_cast<TOwner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}
