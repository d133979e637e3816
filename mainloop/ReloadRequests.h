#pragma once

#include <functional>
#include <memory>
#include <string>

// The requests to read the sites ([Origins]) again while the program runs, as an event of the
// thread that owns the object: on Linux SIGHUP (kill -HUP, systemctl reload); on Windows the
// named event of the logon session that `modbus-bridged.exe --reload` sets
// (Win32ReloadRequest.h). The Windows service gets its own from the service control manager.
class TReloadRequests {
public:
    // Linux: blocks SIGHUP in the calling thread, before any thread starts, so that it reaches
    // the program only through this object and never ends it. Nothing to do on Windows.
    static bool Block();

    // onReload runs on the owning thread for each request; requests that come together may run
    // it once.
    explicit TReloadRequests(std::function<void()> onReload);
    ~TReloadRequests();
    TReloadRequests(const TReloadRequests&) = delete;
    TReloadRequests& operator=(const TReloadRequests&) = delete;

    bool Ready() const;
    // Why the requests cannot be received when not ready: the failing call and its reason.
    const std::string& SetupError() const { return Error; }

    // The platform's part: PosixReloadRequests.cpp (Linux), Win32ReloadRequests.cpp.
    class TReceiver;

private:
    std::string Error;
    std::function<void()> OnReload;
    std::unique_ptr<TReceiver> Receiver;
};
