#include "OriginQuestions.h"

#include <algorithm>

bool TOriginQuestions::Ask(const std::string& origin, uint64_t nowMs) {
    if (Holds(origin)) {
        return true;
    }
    if (Current_.empty()) {
        Current_ = origin;
        CurrentSinceMs = nowMs;
        return true;
    }
    if (Waiting.size() >= kMaxWaiting) {
        return false;
    }
    Waiting.push_back(origin);
    return true;
}

bool TOriginQuestions::MayAnswer(const std::string& origin, uint64_t nowMs) const {
    return !origin.empty() && origin == Current_ && nowMs >= CurrentSinceMs + kAnswerDelayMs;
}

const std::string& TOriginQuestions::Answered(uint64_t nowMs) {
    Current_.clear();
    if (!Waiting.empty()) {
        Current_ = Waiting.front();
        Waiting.pop_front();
        CurrentSinceMs = nowMs;
    }
    return Current_;
}

bool TOriginQuestions::Holds(const std::string& origin) const {
    return origin == Current_ || std::find(Waiting.begin(), Waiting.end(), origin) != Waiting.end();
}

void TOriginQuestions::Withdraw(const std::string& origin, uint64_t nowMs) {
    if (!origin.empty() && origin == Current_) {
        Answered(nowMs);
        return;
    }
    std::erase(Waiting, origin);
}
