// The Windows service's states and controls against a view that records its calls, on both
// platforms: the pure half of the service, whose other half (Win32Service.cpp) only passes the
// calls to the service control manager.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ServiceControl.h"

namespace {

class TRecordingServiceView : public TServiceView {
public:
    void ReportStatus(const TServiceStatus& status) override {
        static const char* const kStates[] = {"start-pending", "running", "stop-pending",
                                              "stopped"};
        Calls.push_back(std::string(kStates[static_cast<int>(status.State)]) +
                        (status.AcceptsControls ? " accepts" : "") + " cp" +
                        std::to_string(status.CheckPoint) + " hint" +
                        std::to_string(status.WaitHintMs) + " exit" +
                        std::to_string(static_cast<uint32_t>(status.Exit)));
    }
    void ReloadSites() override { Calls.push_back("reload"); }
    void StopBridge() override { Calls.push_back("stop bridge"); }
    void EndService() override { Calls.push_back("end"); }

    std::vector<std::string> Calls;
};

using enum TServiceRequest;

// Each row is a service's life from its start. The faults: a stop that is not reported pending
// with a wait hint before the bridge's shutdown, a stopped status before the bridge stopped
// (the manager may end the process then), controls accepted before the start is over, a reload
// or a second stop acted on after the stop began, a failed start that runs or stops without
// its reason, a running status that does not accept the stop.
TEST(ServiceControlTest, TheServiceReportsEachStateAndStopsOnlyAfterTheBridge) {
    const std::string starting = "start-pending cp1 hint3000 exit0";
    const std::string running = "running accepts cp0 hint0 exit0";
    const std::string stopping = "stop-pending cp1 hint2000 exit0";
    const struct {
        const char* Name;
        TServiceExit StartExit;
        std::vector<TServiceRequest> Requests;
        std::vector<std::string> Calls;
    } lives[] = {
        {"stopped",
         TServiceExit::None,
         {Stop},
         {starting, running, stopping, "stop bridge", "stopped cp0 hint0 exit0", "end"}},
        {"shut down with the system, then asked again",
         TServiceExit::None,
         {Shutdown, Stop, ParamChange, Interrogate},
         {starting, running, stopping, "stop bridge", "stopped cp0 hint0 exit0", "end",
          "stopped cp0 hint0 exit0"}},
        {"sites read again twice, asked, stopped",
         TServiceExit::None,
         {ParamChange, Other, ParamChange, Interrogate, Stop},
         {starting, running, "reload", "reload", running, stopping, "stop bridge",
          "stopped cp0 hint0 exit0", "end"}},
        {"the port taken",
         TServiceExit::PortTaken,
         {Stop},
         {starting, "stop bridge", "stopped cp0 hint0 exit1", "end"}},
        {"the settings unreadable",
         TServiceExit::SettingsUnreadable,
         {},
         {starting, "stop bridge", "stopped cp0 hint0 exit3", "end"}},
    };
    for (const auto& life : lives) {
        SCOPED_TRACE(life.Name);
        TRecordingServiceView view;
        TServiceBehaviour service(view);
        service.Starting();
        service.Control(ParamChange);
        service.Started(life.StartExit);
        for (const TServiceRequest request : life.Requests) {
            if (ServiceTakes(request)) {
                service.Control(request);
            }
        }
        EXPECT_EQ(view.Calls, life.Calls);
        EXPECT_EQ(service.State(), life.StartExit == TServiceExit::None && life.Requests.empty()
                                       ? TServiceState::Running
                                       : TServiceState::Stopped);
    }
}

// Why a start ends the service, as its status tells it. The faults: a taken port that reads as
// any other failure (the operator would not look for the window holding it), a service that
// runs on the defaults when its settings cannot be read.
TEST(ServiceControlTest, AFailedStartGivesItsReasonAsTheExitCode) {
    const struct {
        TStartOutcome Outcome;
        bool SettingsUnreadable;
        TServiceExit Exit;
    } starts[] = {
        {{TStartResult::Serving, "", false}, false, TServiceExit::None},
        {{TStartResult::Serving, "", false}, true, TServiceExit::SettingsUnreadable},
        {{TStartResult::NoServer, "bind", true}, false, TServiceExit::PortTaken},
        {{TStartResult::NoServer, "bind", false}, true, TServiceExit::PortUnavailable},
        {{TStartResult::NotSetUp, "eventfd", false}, false, TServiceExit::NotSetUp},
    };
    for (const auto& start : starts) {
        SCOPED_TRACE(start.Outcome.Reason + (start.SettingsUnreadable ? " unreadable" : ""));
        EXPECT_EQ(ServiceStartExit(start.Outcome, start.SettingsUnreadable), start.Exit);
    }
    EXPECT_EQ(ServiceExitLine(TServiceExit::PortTaken),
              "Служба modbus-bridged остановлена: порт занят другой программой (код 1)");
    EXPECT_EQ(ServiceExitLine(TServiceExit::SettingsUnreadable),
              "Служба modbus-bridged остановлена: файл настроек не прочитан (код 3)");
    EXPECT_FALSE(ServiceTakes(Other));
}

}  // namespace
