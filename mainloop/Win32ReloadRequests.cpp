// The reload requests on Windows: an auto-reset event named for the logon session, waited for by
// the system's thread pool, whose callback hands each request to the owning thread's message
// loop. A console program has no SIGHUP, and Ctrl+Break already ends it.
#include <windows.h>

#include "ReloadRequests.h"
#include "Win32MessageWindow.h"
#include "Win32ReloadRequest.h"
#include "Win32Text.h"

const wchar_t kReloadEventName[] = L"Local\\modbus-bridged-reload";

namespace {

constexpr UINT kReloadRequested = WM_APP + 2;

}  // namespace

class TReloadRequests::TReceiver {
public:
    TReceiver(const std::function<void()>& onReload, std::string& error)
        : OnReload(onReload), Messages([this](UINT message, WPARAM, LPARAM, LRESULT& result) {
              if (message != kReloadRequested) {
                  return false;
              }
              OnReload();
              result = 0;
              return true;
          }) {
        if (Messages.Handle() == nullptr) {
            error = "CreateWindowExW: " + Win32ErrorText(Messages.SetupError());
            return;
        }
        Event = CreateEventW(nullptr, FALSE, FALSE, kReloadEventName);
        if (Event == nullptr) {
            error = "CreateEventW: " + Win32ErrorText(GetLastError());
            return;
        }
        if (!RegisterWaitForSingleObject(&Wait, Event, Signalled, Messages.Handle(), INFINITE,
                                         WT_EXECUTEDEFAULT)) {
            error = "RegisterWaitForSingleObject: " + Win32ErrorText(GetLastError());
            Wait = nullptr;
        }
    }

    ~TReceiver() {
        if (Wait != nullptr) {
            // Waits for a callback under way, so none posts to the window once it is gone.
            UnregisterWaitEx(Wait, INVALID_HANDLE_VALUE);
        }
        if (Event != nullptr) {
            CloseHandle(Event);
        }
    }

    TReceiver(const TReceiver&) = delete;
    TReceiver& operator=(const TReceiver&) = delete;

    bool Ready() const { return Wait != nullptr; }

private:
    // On a thread of the pool, each time the event is set.
    static void CALLBACK Signalled(void* window, BOOLEAN) {
        PostMessageW(static_cast<HWND>(window), kReloadRequested, 0, 0);
    }

    const std::function<void()>& OnReload;
    TMessageWindow Messages;
    HANDLE Event = nullptr;
    HANDLE Wait = nullptr;
};

TReloadSent SendReloadRequest(std::string& error) {
    const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, kReloadEventName);
    if (event == nullptr) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) {
            return TReloadSent::NobodyListens;
        }
        error = "OpenEventW: " + Win32ErrorText(code);
        return TReloadSent::Failed;
    }
    const bool set = SetEvent(event);
    const DWORD code = GetLastError();
    CloseHandle(event);
    if (!set) {
        error = "SetEvent: " + Win32ErrorText(code);
        return TReloadSent::Failed;
    }
    return TReloadSent::Sent;
}

bool TReloadRequests::Block() {
    return true;
}

TReloadRequests::TReloadRequests(std::function<void()> onReload)
    : OnReload(std::move(onReload)), Receiver(std::make_unique<TReceiver>(OnReload, Error)) {}

TReloadRequests::~TReloadRequests() = default;

bool TReloadRequests::Ready() const {
    return Receiver->Ready();
}
