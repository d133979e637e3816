#include "TransmitDrain.h"

#include <algorithm>

#include "MonotonicClock.h"
#include "SerialIo.h"
#include "StopSignal.h"

namespace {

// The driver is asked no more often than this while its queue empties: a fast line must not turn
// the wait into a stream of driver calls.
constexpr uint64_t kShortestLookUs = 100;
constexpr uint64_t kCharactersAUartHolds = 2;

}  // namespace

TDrainStep NextDrainStep(const TOutputState& state, size_t written, int32_t baud) {
    if (state.Queued > 0 || state.Transmitter == TTransmitter::Busy) {
        const uint64_t characters = std::max<uint64_t>(state.Queued, 1);
        return {false, std::max(LineTimeUs(characters, baud), kShortestLookUs)};
    }
    if (state.Transmitter == TTransmitter::Empty) {
        return {true, 0};
    }
    const uint64_t held = std::min<uint64_t>(written, kCharactersAUartHolds);
    return {true, LineTimeUs(held, baud)};
}

bool WaitUntilSent(const TOutputProbe& probe, size_t written, int32_t baud, const TStopSignal& stop,
                   const TDeadline& deadline) {
    for (;;) {
        if (stop.Requested()) {
            return false;
        }
        const TDrainStep step = NextDrainStep(probe(), written, baud);
        const uint64_t leftUs = deadline.RemainingUs();
        if (step.Sent) {
            return step.WaitUs == 0 ||
                   (step.WaitUs <= leftUs && stop.WaitForMicroseconds(step.WaitUs));
        }
        if (leftUs == 0 || !stop.WaitForMicroseconds(std::min(step.WaitUs, leftUs))) {
            return false;
        }
    }
}
