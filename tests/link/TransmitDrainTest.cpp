#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "MonotonicClock.h"
#include "StopSignal.h"
#include "TransmitDrain.h"

// The wait after a write, before the RS-485 line may turn to receive. The driver's reports are
// scripted: a UART's queue and transmitter cannot exist on this machine.
namespace {

using Clock = std::chrono::steady_clock;
using enum TTransmitter;

struct TStepCase {
    std::string Name;
    TOutputState State;
    size_t Written;
    int32_t Baud;
    TDrainStep Expected;
};

TEST(TransmitDrainTest, EachReportOfTheDriverGivesItsStep) {
    const TStepCase cases[] = {
        {"queued bytes get their line time", {30, Unknown}, 30, 9600, {false, 31250}},
        {"queued bytes, even with an idle transmitter", {3, Empty}, 8, 115200, {false, 261}},
        {"a busy transmitter gets one character", {0, Busy}, 8, 9600, {false, 1042}},
        {"a fast line is not asked each microsecond", {1, Unknown}, 1, 4000000, {false, 100}},
        {"an empty transmitter ends the wait", {0, Empty}, 8, 9600, {true, 0}},
        {"an unknown transmitter holds two characters", {0, Unknown}, 8, 9600, {true, 2084}},
        {"two characters at a high rate", {0, Unknown}, 8, 115200, {true, 174}},
        {"a write of one byte holds one character", {0, Unknown}, 1, 9600, {true, 1042}},
        {"nothing written holds nothing", {0, Unknown}, 0, 9600, {true, 0}},
    };
    for (const TStepCase& test : cases) {
        EXPECT_EQ(NextDrainStep(test.State, test.Written, test.Baud), test.Expected) << test.Name;
    }
}

// A driver's reports in turn; nullopt is a failed call. The last report repeats.
struct TWaitCase {
    std::string Name;
    std::vector<std::optional<TOutputState>> Reports;
    int32_t Baud;
    size_t Written;
    uint32_t LimitMs;
    size_t StopAtLook;  // the look during which a stop comes in; 0 for none
    bool Sent;
    size_t Looks;        // 0 where it depends on the time
    uint64_t AtLeastUs;  // the line times the wait must not cut short
};

TEST(TransmitDrainTest, TheWaitEndsSentOnlyOnceTheLineIsFree) {
    const std::optional<TOutputState> failed;
    const TWaitCase cases[] = {
        {"the queue empties, then the transmitter",
         {TOutputState{3, Busy}, TOutputState{1, Busy}, TOutputState{0, Busy},
          TOutputState{0, Empty}},
         9600,
         8,
         1000,
         0,
         true,
         4,
         3125 + 1042 + 1042},
        {"an unknown transmitter after the queue",
         {TOutputState{2, Unknown}, TOutputState{0, Unknown}},
         9600,
         8,
         1000,
         0,
         true,
         2,
         2084 + 2084},
        {"a driver that fails", {TOutputState{2, Busy}, failed}, 115200, 8, 1000, 0, false, 2, 0},
        {"a queue that never empties", {TOutputState{5, Busy}}, 115200, 8, 30, 0, false, 0, 0},
        {"a stop while the queue empties", {TOutputState{5, Busy}}, 9600, 8, 60000, 2, false, 2, 0},
        {"a stop in the hold", {TOutputState{0, Unknown}}, 1, 8, 60000, 1, false, 1, 0},
        {"a hold longer than the bound", {TOutputState{0, Unknown}}, 1, 8, 2000, 0, false, 1, 0},
    };
    for (const TWaitCase& test : cases) {
        TStopSignal stop;
        size_t looks = 0;
        const TOutputProbe probe = [&](TOutputState& state) {
            ++looks;
            if (looks == test.StopAtLook) {
                stop.Request();
            }
            const auto& report = test.Reports[std::min(looks, test.Reports.size()) - 1];
            if (report) {
                state = *report;
            }
            return report.has_value();
        };
        const auto start = Clock::now();
        const bool sent =
            WaitUntilSent(probe, test.Written, test.Baud, stop, TDeadline(test.LimitMs));
        const auto elapsed = Clock::now() - start;
        EXPECT_EQ(sent, test.Sent) << test.Name;
        if (test.Looks > 0) {
            EXPECT_EQ(looks, test.Looks) << test.Name;
        }
        EXPECT_GE(elapsed, std::chrono::microseconds(test.AtLeastUs)) << test.Name;
        EXPECT_LT(elapsed, std::chrono::seconds(5)) << test.Name;
    }
}

}  // namespace
