#include "Win32MessageLoop.h"

#include <windows.h>

#include "Win32Text.h"

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

std::string ProgramFilePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return Utf8FromWide(path);
        }
        path.resize(path.size() * 2);
    }
}
