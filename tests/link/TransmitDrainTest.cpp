#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "MonotonicClock.h"
#include "StopSignal.h"
#include "TransmitDrain.h"

// The wait after a write, before the RS-485 line may turn to receive. The driver's reports are
// scripted: a UART's queue and transmitter cannot exist on this machine.
namespace {

using enum TTransmitter;

TEST(TransmitDrainTest, EachReportOfTheDriverGivesItsStep) {
    const struct {
        TOutputState State;
        size_t Written;
        int32_t Baud;
        TDrainStep Expected;
    } cases[] = {
        {{30, Unknown}, 30, 9600, {false, 31250}},  // queued bytes get their line time
        {{0, Busy}, 8, 9600, {false, 1042}},        // a busy transmitter gets one character
        {{1, Unknown}, 1, 4000000, {false, 100}},   // a fast line is not asked each microsecond
        {{0, Empty}, 8, 9600, {true, 0}},           // an idle transmitter ends the wait
        {{0, Unknown}, 8, 115200, {true, 174}},     // else the line holds two characters
        {{0, Unknown}, 1, 9600, {true, 1042}},      // or the one written
    };
    for (const auto& test : cases) {
        EXPECT_EQ(NextDrainStep(test.State, test.Written, test.Baud), test.Expected)
            << test.State.Queued << " queued, " << test.Written << " written, " << test.Baud;
    }
}

// The driver's reports in turn (the last one repeats), the look during which a stop comes in
// (0: none), the result, the looks (0: they depend on the time) and the line
// time the wait must not cut short.
TEST(TransmitDrainTest, TheWaitEndsSentOnlyOnceTheLineIsFree) {
    const struct {
        std::string Name;
        std::vector<TOutputState> Reports;
        int32_t Baud;
        uint32_t LimitMs;
        size_t StopAtLook;
        bool Sent;
        size_t Looks;
        uint64_t AtLeastUs;
    } cases[] = {
        {"queue, then hold",
         {TOutputState{2, Unknown}, TOutputState{0, Unknown}},
         9600,
         1000,
         0,
         true,
         2,
         2084 + 2084},
        {"a queue that never empties", {TOutputState{5, Busy}}, 115200, 30, 0, false, 0, 0},
        {"a stop while the queue empties", {TOutputState{5, Busy}}, 9600, 60000, 2, false, 2, 0},
        {"a stop in the hold", {TOutputState{0, Unknown}}, 1, 60000, 1, false, 1, 0},
        {"a hold longer than the bound", {TOutputState{0, Unknown}}, 1, 2000, 0, false, 1, 0},
    };
    for (const auto& test : cases) {
        TStopSignal stop;
        size_t looks = 0;
        const TOutputProbe probe = [&] {
            if (++looks == test.StopAtLook) {
                stop.Request();
            }
            return test.Reports[std::min(looks, test.Reports.size()) - 1];
        };
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(WaitUntilSent(probe, 8, test.Baud, stop, TDeadline(test.LimitMs)), test.Sent)
            << test.Name;
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(test.Looks == 0 || looks == test.Looks) << test.Name << ": " << looks;
        EXPECT_GE(elapsed, std::chrono::microseconds(test.AtLeastUs)) << test.Name;
        EXPECT_LT(elapsed, std::chrono::seconds(5)) << test.Name;
    }
}

}  // namespace
