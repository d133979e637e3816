#include <windows.h>

#include "LocalTime.h"

TLocalTime LocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return TLocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                      now.wMinute, now.wSecond, now.wMilliseconds};
}

TLocalTime LocalTimeBefore(uint64_t ago) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{};
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    // FILETIME counts 100-nanosecond intervals.
    ticks.QuadPart -= ago * 10'000;
    const FILETIME then{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    if (!FileTimeToSystemTime(&then, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        return LocalTimeNow();
    }
    return TLocalTime{local.wYear,   local.wMonth,  local.wDay,         local.wHour,
                      local.wMinute, local.wSecond, local.wMilliseconds};
}
