#include <chrono>
#include <ctime>

#include "LocalTime.h"

TLocalTime LocalTimeNow() {
    return LocalTimeBefore(0);
}

TLocalTime LocalTimeBefore(uint64_t ago) {
    const auto moment = std::chrono::system_clock::now() -
                        std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(ago));
    const auto sinceEpoch = moment.time_since_epoch();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    return TLocalTime{parts.tm_year + 1900,
                      parts.tm_mon + 1,
                      parts.tm_mday,
                      parts.tm_hour,
                      parts.tm_min,
                      parts.tm_sec,
                      static_cast<int>(milliseconds)};
}
