#pragma once

#include <cstdint>

// A moment of the local wall clock, as the log shows it.
struct TLocalTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

TLocalTime LocalTimeNow();
// The local time that many milliseconds ago, by the wall clock of now.
TLocalTime LocalTimeBefore(uint64_t milliseconds);
