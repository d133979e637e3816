#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

// The pages waiting for the operator's answer about their origin: one question in view at a
// time, the others in the order they came. The window shows Current(). Times are the monotonic
// clock's milliseconds, given in by the caller.
class TOriginQuestions {
public:
    // Questions that may wait their turn; beyond them the queue is full.
    static constexpr size_t kMaxWaiting = 32;
    // A question takes no answer in its first half second: a page may raise it at any moment,
    // and a key or a click meant for something else must not answer it.
    static constexpr uint64_t kAnswerDelayMs = 500;

    // True when the origin is in view or waits its turn (also when it already did); false when
    // the queue is full, and the page is to be asked about again with its next request. An
    // origin that comes into view (none was) does so at nowMs.
    bool Ask(const std::string& origin, uint64_t nowMs);
    // Whether an answer about this origin is taken now: it is the question in view, and has been
    // for kAnswerDelayMs.
    bool MayAnswer(const std::string& origin, uint64_t nowMs) const;
    // The operator answered the question in view: the next origin comes into view at nowMs
    // (empty: none).
    const std::string& Answered(uint64_t nowMs);
    // Whether the origin is in view or waits its turn.
    bool Holds(const std::string& origin) const;
    // The operator decided about the origin elsewhere (the sites dialog): its question goes,
    // from view (the next comes into view at nowMs) or from the queue.
    void Withdraw(const std::string& origin, uint64_t nowMs);
    // The origin in view; empty when no question is shown.
    const std::string& Current() const { return Current_; }

private:
    std::string Current_;
    uint64_t CurrentSinceMs = 0;
    std::deque<std::string> Waiting;
};
