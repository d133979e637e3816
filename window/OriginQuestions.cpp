#include "OriginQuestions.h"

#include <algorithm>

bool TOriginQuestions::Ask(const std::string& origin) {
    if (origin == Current_ || std::find(Waiting.begin(), Waiting.end(), origin) != Waiting.end()) {
        return true;
    }
    if (Current_.empty()) {
        Current_ = origin;
        return true;
    }
    if (Waiting.size() >= kMaxWaiting) {
        return false;
    }
    Waiting.push_back(origin);
    return true;
}

const std::string& TOriginQuestions::Answered() {
    Current_.clear();
    if (!Waiting.empty()) {
        Current_ = Waiting.front();
        Waiting.pop_front();
    }
    return Current_;
}
