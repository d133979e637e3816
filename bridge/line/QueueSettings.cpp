#include "QueueSettings.h"

#include "IniFile.h"

namespace {

constexpr char kServer[] = "Server";

// The key's value within its bounds; otherwise a problem line, and the default.
int64_t BoundedInteger(const TIniFile& settings, const char* key, int64_t fallback, int64_t lowest,
                       int64_t highest, std::vector<std::string>& problems) {
    const std::string text = settings.ReadString(kServer, key, std::to_string(fallback));
    int32_t value = 0;
    if (ParseSettingsInteger(text, value) && value >= lowest && value <= highest) {
        return value;
    }
    problems.push_back("Настройка " + std::string(key) + "=" + text + " не понята, принято " + key +
                       "=" + std::to_string(fallback));
    return fallback;
}

}  // namespace

TQueueSettings ReadQueueSettings(const TIniFile& settings, std::vector<std::string>& problems) {
    TQueueSettings queue;
    queue.Depth = static_cast<size_t>(
        BoundedInteger(settings, "Queue", 0, 0, TQueueSettings::kMostWaiting, problems));
    queue.WaitMs = static_cast<uint32_t>(BoundedInteger(settings, "QueueWaitMs", queue.WaitMs, 1,
                                                        TQueueSettings::kLongestWaitMs, problems));
    return queue;
}
