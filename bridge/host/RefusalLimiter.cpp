#include "RefusalLimiter.h"

TRefusalLimiter::TTurn TRefusalLimiter::Note(uint64_t nowMs) {
    TTurn turn;
    if (!WindowOpen || nowMs - WindowStart >= kWindowMs) {
        turn.UnloggedBefore = Unlogged;
        WindowOpen = true;
        WindowStart = nowMs;
        Written = 0;
        Unlogged = 0;
    }
    if (Written < kLinesPerWindow) {
        ++Written;
        turn.WriteLine = true;
    } else {
        ++Unlogged;
    }
    return turn;
}

uint64_t TRefusalLimiter::Flush(uint64_t nowMs) {
    if (!WindowOpen || nowMs - WindowStart < kWindowMs) {
        return 0;
    }
    const uint64_t unlogged = Unlogged;
    WindowOpen = false;
    Written = 0;
    Unlogged = 0;
    return unlogged;
}

std::optional<uint64_t> TRefusalLimiter::FlushDue() const {
    if (!WindowOpen || Unlogged == 0) {
        return std::nullopt;
    }
    return WindowStart + kWindowMs;
}

std::string UnloggedRefusalsLine(uint64_t count) {
    return "Отклонено ещё запросов без строки в журнале: " + std::to_string(count);
}
