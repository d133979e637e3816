#include "LimitedLines.h"

#include "BridgeHost.h"

void WriteLogEntries(TBridgeHost& host, const std::vector<TLogEntry>& entries) {
    for (const TLogEntry& entry : entries) {
        switch (entry.Kind) {
            case TLogKind::Date:
                host.LogDate();
                break;
            case TLogKind::Info:
                host.LogInfo(entry.Text);
                break;
            case TLogKind::Error:
                host.LogError(entry.Text);
                break;
            case TLogKind::Notice:
                host.LogNotice(entry.Text);
                break;
            case TLogKind::Send:
                host.LogSend(entry.Text);
                break;
            case TLogKind::Receive:
                host.LogReceive(entry.Text);
                break;
        }
    }
}

void TLimitedLines::Note(uint64_t nowMs, const std::vector<TLogEntry>& lines,
                         std::vector<TLogEntry>& out) {
    const TRefusalLimiter::TTurn turn = Limiter.Note(nowMs);
    if (turn.UnloggedBefore > 0) {
        out.push_back({TLogKind::Error, CountLine(turn.UnloggedBefore)});
    }
    if (turn.WriteLine) {
        out.insert(out.end(), lines.begin(), lines.end());
    }
}

void TLimitedLines::Flush(uint64_t nowMs, std::vector<TLogEntry>& out) {
    if (const uint64_t unlogged = Limiter.Flush(nowMs); unlogged > 0) {
        out.push_back({TLogKind::Error, CountLine(unlogged)});
    }
}
