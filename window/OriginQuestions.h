#pragma once

#include <cstddef>
#include <deque>
#include <string>

// The pages waiting for the operator's answer about their origin: one question in view at a
// time, the others in the order they came. The window shows Current().
class TOriginQuestions {
public:
    // Questions that may wait their turn; beyond them the queue is full.
    static constexpr size_t kMaxWaiting = 32;

    // True when the origin is in view or waits its turn (also when it already did); false when
    // the queue is full, and the page is to be asked about again with its next request.
    bool Ask(const std::string& origin);
    // The operator answered the question in view: the next origin comes into view (empty: none).
    const std::string& Answered();
    // The origin in view; empty when no question is shown.
    const std::string& Current() const { return Current_; }

private:
    std::string Current_;
    std::deque<std::string> Waiting;
};
