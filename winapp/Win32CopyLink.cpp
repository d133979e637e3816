#include "Win32CopyLink.h"

#include "Win32Text.h"

namespace {

// What the first copy answers: its window is in sight, or it closes.
constexpr LRESULT kShownAnswer = 0x5348;
constexpr LRESULT kClosingAnswer = 0x4343;
// The first copy makes its window a moment after it takes the marker, may be busy starting, or
// may be closing (its shutdown takes about half a second).
constexpr ULONGLONG kFirstCopyWaitMs = 5000;
constexpr DWORD kRetryMs = 50;

}  // namespace

TWin32CopyLink::TWin32CopyLink()
    : ShowMessage(RegisterWindowMessageW(L"modbus-bridge: show the window")) {}

TMarkerState TWin32CopyLink::Claim() {
    Marker = std::make_unique<TProgramMarker>(TMarkedProgram::Window);
    Error_ = Marker->Error();
    return Marker->State();
}

TFirstAnswer TWin32CopyLink::AskFirstToShow() {
    const std::wstring title = WideFromUtf8(FirstCopyAddress());
    const ULONGLONG deadline = GetTickCount64() + kFirstCopyWaitMs;
    std::string lastError = "no window of the first copy";
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        if (Claim() == TMarkerState::Held) {
            return TFirstAnswer::TakenOver;
        }
        if (const HWND first = FindWindowW(nullptr, title.c_str())) {
            // Windows gives the foreground only to a program the operator used last: this one.
            DWORD firstProcess = 0;
            GetWindowThreadProcessId(first, &firstProcess);
            AllowSetForegroundWindow(firstProcess);
            DWORD_PTR answer = 0;
            if (SendMessageTimeoutW(first, ShowMessage, 0, 0, SMTO_ABORTIFHUNG,
                                    static_cast<UINT>(deadline - now), &answer) == 0) {
                lastError = "no answer: " + Win32ErrorText(GetLastError());
            } else if (static_cast<LRESULT>(answer) == kShownAnswer) {
                return TFirstAnswer::Shown;
            } else {
                lastError = "it is closing";
            }
        }
        Sleep(kRetryMs);
    }
    Error_ = lastError;
    return TFirstAnswer::NoAnswer;
}

bool TWin32CopyLink::ListenForLaterStarts(std::function<bool()> asked) {
    Asked = std::move(asked);
    Window = std::make_unique<TMessageWindow>(
        [this](UINT message, WPARAM, LPARAM, LRESULT& result) {
            if (message == ShowMessage) {
                result = Asked() ? kShownAnswer : kClosingAnswer;
                return true;
            }
            // Another program's close request (taskkill) is the main window's to answer; this
            // window must stay until then, or later starts would wait for it in vain.
            return message == WM_CLOSE;
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
