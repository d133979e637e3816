#pragma once

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "BridgeHost.h"
#include "LogLine.h"

// A bridge host that keeps every line and status call, safe from any thread, with view options
// a test can change while requests run.
class TRecordingHost : public TBridgeHost {
public:
    struct TLine {
        TLogKind Kind;
        std::string Text;
        bool operator==(const TLine&) const = default;
    };
    struct TStatus {
        uint8_t ComPort;
        uint8_t Slave;
        uint16_t DeviceType;
        int32_t Baud;
        bool operator==(const TStatus&) const = default;
    };

    void LogDate() override { Add(TLogKind::Date, {}); }
    void LogInfo(std::string text) override { Add(TLogKind::Info, std::move(text)); }
    void LogError(std::string text) override { Add(TLogKind::Error, std::move(text)); }
    void LogNotice(std::string text) override { Add(TLogKind::Notice, std::move(text)); }
    void LogSend(std::string text) override { Add(TLogKind::Send, std::move(text)); }
    void LogReceive(std::string text) override { Add(TLogKind::Receive, std::move(text)); }
    void ShowLinkStatus(uint8_t comPort, uint8_t slave, uint16_t deviceType,
                        int32_t baud) override {
        const std::lock_guard guard(Lock);
        Statuses.push_back({comPort, slave, deviceType, baud});
    }

    void RequestBegun() override {
        const std::lock_guard guard(Lock);
        ProgressList.push_back("begun");
    }
    void RequestEnded(const TRequestEnd& end) override {
        const std::lock_guard guard(Lock);
        ProgressList.push_back(end.ErrorCode
                                   ? "ended " + std::to_string(*end.ErrorCode) + " " + end.ErrorText
                                   : "stopped");
    }

    bool ViewError() const override { return Error; }
    bool ViewSet() const override { return Set; }
    bool ViewHex() const override { return Hex; }

    std::vector<TLine> Lines() const {
        const std::lock_guard guard(Lock);
        return LineList;
    }
    // "begun", then "ended <code> <text>" or "stopped", for each request.
    std::vector<std::string> Progress() const {
        const std::lock_guard guard(Lock);
        return ProgressList;
    }
    std::vector<TStatus> StatusCalls() const {
        const std::lock_guard guard(Lock);
        return Statuses;
    }
    size_t Count(TLogKind kind, const std::string& text) const {
        const std::lock_guard guard(Lock);
        return static_cast<size_t>(std::count(LineList.begin(), LineList.end(), TLine{kind, text}));
    }
    void Clear() {
        const std::lock_guard guard(Lock);
        LineList.clear();
        Statuses.clear();
        ProgressList.clear();
    }

    std::atomic<bool> Error{false};
    std::atomic<bool> Set{false};
    std::atomic<bool> Hex{false};

private:
    void Add(TLogKind kind, std::string text) {
        const std::lock_guard guard(Lock);
        LineList.push_back({kind, std::move(text)});
    }

    mutable std::mutex Lock;
    std::vector<TLine> LineList;
    std::vector<TStatus> Statuses;
    std::vector<std::string> ProgressList;
};
