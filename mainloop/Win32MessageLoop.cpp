#include "Win32MessageLoop.h"

#include <windows.h>

int RunMessageLoop(const std::function<bool(const MSG& message)>& takeKey) {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (takeKey && takeKey(message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void QuitMessageLoop(int exitCode) {
    PostQuitMessage(exitCode);
}
