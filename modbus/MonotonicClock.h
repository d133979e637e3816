#pragma once

#include <chrono>
#include <cstdint>

// Time-outs run on the monotonic clock: setting the wall clock must neither stretch nor cut them.
inline uint64_t MonotonicMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// A point in monotonic time some milliseconds ahead, for a wait made of several polls.
class TDeadline {
public:
    explicit TDeadline(uint64_t milliseconds)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds)) {}

    // Milliseconds left, rounded up, as a poll time-out; 0 once the deadline has passed.
    int RemainingMs() const {
        using namespace std::chrono;
        const auto left = end_ - steady_clock::now();
        if (left <= steady_clock::duration::zero()) {
            return 0;
        }
        const auto ms = ceil<milliseconds>(left).count();
        return ms > kMaxPollMs ? kMaxPollMs : static_cast<int>(ms);
    }

    // Microseconds left, rounded up; 0 once the deadline has passed.
    uint64_t RemainingUs() const {
        using namespace std::chrono;
        const auto left = end_ - steady_clock::now();
        if (left <= steady_clock::duration::zero()) {
            return 0;
        }
        return static_cast<uint64_t>(ceil<microseconds>(left).count());
    }

private:
    static constexpr int kMaxPollMs = 1 << 30;
    std::chrono::steady_clock::time_point end_;
};
