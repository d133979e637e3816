#pragma once

#include <cstdint>
#include <string>

#include "BridgeStartup.h"

// The bridge as a Windows service, without the system's calls: what the service control manager
// is told (Win32Service.cpp turns it into SetServiceStatus) and what the service does on its
// controls. Pure, so that both platforms test it against a recording view.

enum class TServiceState { StartPending, Running, StopPending, Stopped };

// Why the service stopped, as its status tells it: `sc query modbus-bridged` shows the number as
// SERVICE_EXIT_CODE beside WIN32_EXIT_CODE 1066 (a service-specific error). None is a clean stop.
enum class TServiceExit : uint32_t {
    None = 0,
    // Another program listens on the port: the window, a console copy, another bridge.
    PortTaken = 1,
    // The port could not be listened on for another reason (the log's start lines say which).
    PortUnavailable = 2,
    // The settings file is there but cannot be read; the service does not run on the defaults.
    SettingsUnreadable = 3,
    // The server could not be set up: it could neither stop nor answer a request.
    NotSetUp = 4,
};

struct TServiceStatus {
    TServiceState State = TServiceState::StartPending;
    // Stop, shutdown and the parameter change; only while running.
    bool AcceptsControls = false;
    // Counts up while a pending state lasts, so the manager sees progress.
    uint32_t CheckPoint = 0;
    uint32_t WaitHintMs = 0;
    TServiceExit Exit = TServiceExit::None;
    bool operator==(const TServiceStatus&) const = default;
};

// The controls the manager sends, as the service tells them apart.
enum class TServiceRequest { Stop, Shutdown, ParamChange, Interrogate, Other };

// What the service does; the Win32 realisation, or a recording one in tests.
class TServiceView {
public:
    virtual ~TServiceView() = default;
    virtual void ReportStatus(const TServiceStatus& status) = 0;
    // [Origins] read again.
    virtual void ReloadSites() = 0;
    // The bridge's shutdown: a running request stopped, the port and the server closed.
    virtual void StopBridge() = 0;
    // The service's thread leaves its message loop; nothing may follow the stopped status.
    virtual void EndService() = 0;
};

// The exit code for the outcome of the start, none when the service may run.
TServiceExit ServiceStartExit(const TStartOutcome& outcome, bool settingsUnreadable);

// The last line of the log of a service that its start stopped: why, and the code its status
// shows.
std::string ServiceExitLine(TServiceExit exit);

// Whether the control handler takes the request (NO_ERROR) or answers that it has no such
// control (ERROR_CALL_NOT_IMPLEMENTED).
bool ServiceTakes(TServiceRequest request);

// The states of the service from its start to its stop, on the service's thread.
class TServiceBehaviour {
public:
    // The manager waits this long for the next report before it counts the service as hung: the
    // start (settings, server) and the stop (the shutdown's pause of 500 ms) take far less.
    static constexpr uint32_t kStartWaitHintMs = 3000;
    static constexpr uint32_t kStopWaitHintMs = 2000;

    explicit TServiceBehaviour(TServiceView& view) : View(view) {}

    // Reported first, before the start's work.
    void Starting();
    // The start is over: running, or stopped with the reason (the bridge then stopped first).
    void Started(TServiceExit exit);
    // A request that the handler took, handed to the service's thread.
    void Control(TServiceRequest request);

    TServiceState State() const { return Status.State; }

private:
    void Report(TServiceState state, uint32_t waitHintMs, TServiceExit exit = TServiceExit::None);
    void Stop(TServiceExit exit);

    TServiceView& View;
    TServiceStatus Status;
};
