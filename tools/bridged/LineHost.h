#pragma once

#include <functional>
#include <mutex>
#include <string_view>

#include "BridgeHost.h"
#include "BridgeStartup.h"
#include "LocalTime.h"
#include "LogLine.h"

// Where the headless bridge's log lines go, each whole as the plain-text log holds it, with the
// time it was stamped with: standard output for modbus-bridged, the daily files for the service.
using TLogLineSink = std::function<void(const TLocalTime& time, std::string_view line)>;

// The host of the headless bridge: every log line goes to the sink, one line at a time, whichever
// thread writes it; the view options come from the settings and do not change while it runs.
class TLineHost : public TBridgeHost {
public:
    TLineHost(TLogLineSink sink, TViewOptions options) : Sink(std::move(sink)), Options(options) {}

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

    const TLogLineSink Sink;
    const TViewOptions Options;
    // The stamp and the sink in one step, so lines are in the order of their stamps.
    std::mutex Lock;
};
