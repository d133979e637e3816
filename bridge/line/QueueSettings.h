#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TIniFile;

// The line's queue, from the [Server] section: Queue=N requests may wait while the line is busy
// (0, the default: none, a request that finds the line busy is refused as it always was), each
// at most QueueWaitMs.
struct TQueueSettings {
    static constexpr size_t kMostWaiting = 256;
    static constexpr uint32_t kLongestWaitMs = 600'000;

    size_t Depth = 0;
    uint32_t WaitMs = 5000;
};

// A value that cannot be read, or lies outside 0 to kMostWaiting (Queue) or 1 to kLongestWaitMs
// (QueueWaitMs), is a problem line, and the default stands in for it.
TQueueSettings ReadQueueSettings(const TIniFile& settings, std::vector<std::string>& problems);
