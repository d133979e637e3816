#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "WindowView.h"

// A window behaviour that records what the window passes in, by the handlers' names, and runs
// an action of the test after each.
class TRecordingEvents : public TWindowEvents {
public:
    std::vector<std::string> Calls;
    std::function<void(const std::string& call)> Then;

    void FormShow() override { Record("FormShow"); }
    void CloseRequested(TCloseCause cause) override {
        Record(cause == TCloseCause::Operator ? "CloseRequested(Operator)"
                                              : "CloseRequested(SessionEnd)");
    }
    void M1_SaveClick() override { Record("M1_SaveClick"); }
    void M1_StartAtLoginClick() override { Record("M1_StartAtLoginClick"); }
    void M1_ExitClick() override { Record("M1_ExitClick"); }
    void M2_ErrorClick() override { Record("M2_ErrorClick"); }
    void M2_SetClick() override { Record("M2_SetClick"); }
    void M2_HexClick() override { Record("M2_HexClick"); }
    void M_HelpClick() override { Record("M_HelpClick"); }
    void WindowMinimized() override { Record("WindowMinimized"); }
    void M3_SitesClick() override { Record("M3_SitesClick"); }
    void M3_PortsClick() override { Record("M3_PortsClick"); }
    void OriginAnswered(const std::string& origin, bool allowed) override {
        Record("OriginAnswered(" + origin + (allowed ? ", allowed)" : ", denied)"));
    }

    // The calls since the last look.
    std::vector<std::string> Take() { return std::exchange(Calls, {}); }

private:
    void Record(std::string call) {
        Calls.push_back(call);
        if (Then) {
            Then(call);
        }
    }
};
