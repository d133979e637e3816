#include <windows.h>

#include "LocalTime.h"

TLocalTime LocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return TLocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                      now.wMinute, now.wSecond, now.wMilliseconds};
}
