#include "Win32CopyLink.h"

#include "Win32Text.h"

namespace {

// What the first copy returns once its window is in sight.
constexpr LRESULT kShownAnswer = 0x5348;
// The first copy makes its window a moment after it takes the marker, and may be busy starting.
constexpr ULONGLONG kFirstCopyWaitMs = 5000;
constexpr UINT kAnswerWaitMs = 5000;

}  // namespace

TWin32CopyLink::TWin32CopyLink()
    : ShowMessage(RegisterWindowMessageW(L"modbus-bridge: show the window")) {}

TMarkerState TWin32CopyLink::Claim() {
    Marker = std::make_unique<TProgramMarker>(TMarkedProgram::Window);
    Error_ = Marker->Error();
    return Marker->State();
}

bool TWin32CopyLink::AskFirstToShow() {
    const std::wstring title = WideFromUtf8(FirstCopyAddress());
    const ULONGLONG deadline = GetTickCount64() + kFirstCopyWaitMs;
    while (true) {
        if (const HWND first = FindWindowW(nullptr, title.c_str())) {
            // Windows gives the foreground only to a program the operator used last: this one.
            DWORD firstProcess = 0;
            GetWindowThreadProcessId(first, &firstProcess);
            AllowSetForegroundWindow(firstProcess);
            DWORD_PTR answer = 0;
            if (SendMessageTimeoutW(first, ShowMessage, 0, 0, SMTO_ABORTIFHUNG, kAnswerWaitMs,
                                    &answer) != 0 &&
                static_cast<LRESULT>(answer) == kShownAnswer) {
                return true;
            }
            Error_ = "no answer: " + Win32ErrorText(GetLastError());
            return false;
        }
        if (GetTickCount64() > deadline) {
            Error_ = "no window of the first copy";
            return false;
        }
        Sleep(50);
    }
}

bool TWin32CopyLink::ListenForLaterStarts(std::function<void()> asked) {
    Asked = std::move(asked);
    Window = std::make_unique<TMessageWindow>(
        [this](UINT message, WPARAM, LPARAM, LRESULT& result) {
            if (message != ShowMessage) {
                return false;
            }
            Asked();
            result = kShownAnswer;
            return true;
        },
        TMessageWindow::TKind::HiddenTopLevel, WideFromUtf8(FirstCopyAddress()).c_str());
    if (Window->Handle() == nullptr) {
        Error_ = Win32ErrorText(Window->SetupError());
        return false;
    }
    // A first copy with more rights than the later start still hears it.
    ChangeWindowMessageFilterEx(Window->Handle(), ShowMessage, MSGFLT_ALLOW, nullptr);
    return true;
}
