#pragma once

#include <cstdio>
#include <mutex>
#include <string_view>

#include "BridgeHost.h"
#include "BridgeStartup.h"
#include "LogLine.h"

// The host of the headless bridge: every log line goes to a stream as the plain-text log holds
// it, one line at a time, whichever thread writes it (WriteConsoleLine); the view options come
// from the settings and do not change while it runs.
class TConsoleHost : public TBridgeHost {
public:
    TConsoleHost(std::FILE* stream, TViewOptions options) : Stream(stream), Options(options) {}

    void LogDate() override { Write(TLogKind::Date, {}); }
    void LogInfo(std::string text) override { Write(TLogKind::Info, text); }
    void LogError(std::string text) override { Write(TLogKind::Error, text); }
    void LogNotice(std::string text) override { Write(TLogKind::Notice, text); }
    void LogSend(std::string text) override { Write(TLogKind::Send, text); }
    void LogReceive(std::string text) override { Write(TLogKind::Receive, text); }

    // The panel texts as one information line; clearing the panels writes nothing.
    void ShowLinkStatus(uint8_t comPort, uint8_t slave, uint16_t deviceType, int32_t baud) override;

    bool ViewError() const override { return Options.Error; }
    bool ViewSet() const override { return Options.Set; }
    bool ViewHex() const override { return Options.Hex; }

private:
    void Write(TLogKind kind, std::string_view text);

    std::FILE* Stream;
    const TViewOptions Options;
    std::mutex Lock;
};
