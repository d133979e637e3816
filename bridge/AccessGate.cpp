#include "AccessGate.h"

#include "AsciiCase.h"
#include "HttpFraming.h"
#include "RequestErrors.h"

void TAccessGate::SetSettings(TAccessSettings settings) {
    Access = std::move(settings);
}

void TAccessGate::SetLocalNames(uint16_t port, std::string hostName) {
    Local.Port = port;
    Local.HostName = std::move(hostName);
}

void TAccessGate::SetAddressSource(TAddressSource source) {
    Addresses = std::move(source);
}

TGateDecision TAccessGate::Decide(const TGateRequest& request) {
    TGateDecision decision;
    // A request without sound framing gets its own error (103 to 106) from the worker.
    if (ParseHttpRequest(request.Received).Error != ErrorCode::None) {
        return decision;
    }
    if (Access.Listen == TListenScope::Any && Addresses) {
        Local.Addresses = Addresses();
    }
    const TAccessVerdict verdict = CheckAccess(request.Received, Access, Local);
    decision.Verdict = verdict;
    if (verdict.HasOrigin && !request.ErrorsOnly && SeenOrigins.size() < kRememberedOrigins &&
        SeenOrigins.insert(verdict.Origin).second) {
        decision.Lines.push_back(
            {TLogKind::Info, "Первый запрос со страницы " + ShownRequestText(verdict.Origin)});
    }
    if (verdict.Refusal == TRefusal::None) {
        return decision;
    }
    decision.Action = TGateAction::Answer;
    decision.Response = AccessRefusedResponse();
    if (verdict.Refusal == TRefusal::OriginUnanswered && request.CanAsk &&
        PlausibleOrigin(verdict.Origin) && AskedOrigins.size() < kRememberedOrigins &&
        AskedOrigins.insert(LowerAscii(verdict.Origin)).second) {
        decision.Question = verdict.Origin;
    }
    Refusals.Note(
        request.NowMs,
        {{TLogKind::Error, RefusalLine(ErrorCode::AccessRefused, RefusalReason(verdict.Refusal),
                                       request.Peer, verdict)}},
        decision.Lines);
    return decision;
}

void TAccessGate::DecideOrigin(const std::string& origin, bool allowed) {
    Access.OriginDecisions[LowerAscii(origin)] = allowed;
    AskedOrigins.erase(LowerAscii(origin));
}

std::vector<TLogEntry> TAccessGate::PortRefused(std::string_view reason, std::string_view peer,
                                                const TAccessVerdict& verdict, uint64_t nowMs) {
    std::vector<TLogEntry> lines;
    Refusals.Note(nowMs,
                  {{TLogKind::Error, RefusalLine(ErrorCode::PortRefused, reason, peer, verdict)}},
                  lines);
    return lines;
}

std::vector<TLogEntry> TAccessGate::Flush(uint64_t nowMs) {
    std::vector<TLogEntry> lines;
    Refusals.Flush(nowMs, lines);
    return lines;
}
