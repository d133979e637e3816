#include "StartLines.h"

#include <string>

#include "LogLine.h"

void WriteStartLines(TBridgeHost& host) {
    host.LogDate();
    host.LogInfo(std::string(LogText::kCaption));
    host.LogInfo(ViewOptionLine(LogText::kViewErrorLine, host.ViewError()));
    if (!host.ViewError()) {
        host.LogInfo(ViewOptionLine(LogText::kViewSetLine, host.ViewSet()));
        host.LogInfo(ViewOptionLine(LogText::kViewHexLine, host.ViewHex()));
    }
    host.LogInfo(std::string(LogText::kStart));
    host.LogInfo(std::string(LogText::kSeparator));
    host.ShowLinkStatus(0, 0, 0, 0);
}
