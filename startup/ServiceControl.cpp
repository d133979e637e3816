#include "ServiceControl.h"

TServiceExit ServiceStartExit(const TStartOutcome& outcome, bool settingsUnreadable) {
    switch (outcome.Result) {
        case TStartResult::NotSetUp:
            return TServiceExit::NotSetUp;
        case TStartResult::NoServer:
            return outcome.PortTaken ? TServiceExit::PortTaken : TServiceExit::PortUnavailable;
        case TStartResult::Serving:
            break;
    }
    // Unattended, on the defaults the listed sites would be refused without anyone seeing why.
    return settingsUnreadable ? TServiceExit::SettingsUnreadable : TServiceExit::None;
}

std::string ServiceExitLine(TServiceExit exit) {
    const char* why = "";
    switch (exit) {
        case TServiceExit::None:
            break;
        case TServiceExit::PortTaken:
            why = "порт занят другой программой";
            break;
        case TServiceExit::PortUnavailable:
            why = "порт не удалось открыть для запросов";
            break;
        case TServiceExit::SettingsUnreadable:
            why = "файл настроек не прочитан";
            break;
        case TServiceExit::NotSetUp:
            why = "сервер не удалось подготовить";
            break;
    }
    return std::string("Служба modbus-bridged остановлена: ") + why + " (код " +
           std::to_string(static_cast<uint32_t>(exit)) + ")";
}

bool ServiceTakes(TServiceRequest request) {
    return request != TServiceRequest::Other;
}

void TServiceBehaviour::Starting() {
    Report(TServiceState::StartPending, kStartWaitHintMs);
}

void TServiceBehaviour::Started(TServiceExit exit) {
    if (Status.State != TServiceState::StartPending) {
        return;
    }
    if (exit != TServiceExit::None) {
        Stop(exit);
        return;
    }
    Report(TServiceState::Running, 0);
}

void TServiceBehaviour::Control(TServiceRequest request) {
    if (Status.State != TServiceState::Running) {
        // Before the start is over the manager sends nothing but an interrogation; once the stop
        // began, a second stop has nothing left to do.
        if (request == TServiceRequest::Interrogate) {
            View.ReportStatus(Status);
        }
        return;
    }
    switch (request) {
        case TServiceRequest::Stop:
        case TServiceRequest::Shutdown:
            Report(TServiceState::StopPending, kStopWaitHintMs);
            Stop(TServiceExit::None);
            return;
        case TServiceRequest::ParamChange:
            View.ReloadSites();
            return;
        case TServiceRequest::Interrogate:
            View.ReportStatus(Status);
            return;
        case TServiceRequest::Other:
            return;
    }
}

void TServiceBehaviour::Report(TServiceState state, uint32_t waitHintMs, TServiceExit exit) {
    const bool pending =
        state == TServiceState::StartPending || state == TServiceState::StopPending;
    Status.CheckPoint = pending ? Status.CheckPoint + 1 : 0;
    Status.State = state;
    Status.AcceptsControls = state == TServiceState::Running;
    Status.WaitHintMs = waitHintMs;
    Status.Exit = exit;
    View.ReportStatus(Status);
}

void TServiceBehaviour::Stop(TServiceExit exit) {
    View.StopBridge();
    Report(TServiceState::Stopped, 0, exit);
    View.EndService();
}
