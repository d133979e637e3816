#include "LineHost.h"

#include "LinkStatus.h"

void TLineHost::ShowLinkStatus(uint8_t comPort, uint8_t slave, uint16_t deviceType, int32_t baud) {
    const auto panels = LinkStatusTexts(comPort, slave, deviceType, baud);
    if (panels[0].empty()) {
        return;
    }
    LogInfo(panels[0] + " | " + panels[1] + " | " + panels[2] + " | " + panels[3]);
}

void TLineHost::Write(TLogKind kind, std::string_view text) {
    const std::lock_guard guard(Lock);
    const TLocalTime now = LocalTimeNow();
    Sink(now, FormatLogLine(kind, now, text));
}
