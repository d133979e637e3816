#include "AccessGate.h"

#include <algorithm>

#include "AsciiCase.h"
#include "DemoPages.h"
#include "HttpFraming.h"
#include "RequestErrors.h"
#include "RequestProcedure.h"

void TAccessGate::SetSettings(TAccessSettings settings) {
    Access = std::move(settings);
}

void TAccessGate::SetOriginDecisions(std::map<std::string, bool> decisions) {
    Access.OriginDecisions = std::move(decisions);
    for (const auto& [origin, allowed] : Access.OriginDecisions) {
        AskedOrigins.erase(origin);
    }
}

void TAccessGate::SetLocalNames(uint16_t port, std::string hostName) {
    Local.Port = port;
    Local.HostName = std::move(hostName);
}

void TAccessGate::SetAddressSource(TAddressSource source) {
    Addresses = std::move(source);
}

TGateDecision TAccessGate::Decide(const TGateRequest& request) {
    TDemoPageAnswer page = AnswerDemoPage(request.Request.Received);
    if (page.Kind != TDemoPageKind::NotOurs) {
        return DecidePage(request, std::move(page.Response));
    }
    TGateDecision decision;
    if (request.Busy) {
        decision.Action = TGateAction::Busy;
        return decision;
    }
    // Access is decided on the bytes as they came, whatever their framing: a page must not get
    // past the checks by leaving out its form field.
    RefreshAddresses();
    const TAccessVerdict verdict = CheckAccess(request.Request, Access, Local);
    decision.Verdict = verdict;
    if (verdict.HasOrigin) {
        NoteActivity(verdict.Origin, request.NowMs);
    }
    const bool firstSeen = verdict.HasOrigin && !request.ErrorsOnly &&
                           SeenOrigins.size() < kRememberedOrigins &&
                           SeenOrigins.insert(verdict.Origin).second;
    if (firstSeen) {
        decision.Lines.push_back(
            {TLogKind::Info, "Первый запрос со страницы " + ShownRequestText(verdict.Origin)});
    }
    if (verdict.Refusal == TRefusal::None) {
        AnswerFramingError(request, decision);
        return decision;
    }
    decision.Action = TGateAction::Answer;
    const bool unanswered = verdict.Refusal == TRefusal::OriginUnanswered;
    const uint8_t code = unanswered ? ErrorCode::AccessAwaitingOperator : ErrorCode::AccessRefused;
    decision.Response = ErrorStatusResponse(code);
    if (unanswered && request.CanAsk && !AskedOrigins.contains(LowerAscii(verdict.Origin))) {
        decision.Question = verdict.Origin;
    }
    NoteRefusal(request, code, verdict, decision);
    // Nobody is asked about such a page: the log says once how to let it in. Not for "null",
    // which no answer may let in, nor for what browsers never send.
    if (firstSeen && verdict.Refusal == TRefusal::OriginUnlisted &&
        PlausibleOrigin(verdict.Origin)) {
        decision.Lines.push_back(
            {TLogKind::Info, "Чтобы разрешить странице " + verdict.Origin +
                                 " управлять устройствами, добавьте в раздел [Origins] файла "
                                 "настроек строку " +
                                 verdict.Origin + "=1 и перезапустите мост"});
    }
    return decision;
}

TGateDecision TAccessGate::DecidePage(const TGateRequest& request, std::string pageResponse) {
    RefreshAddresses();
    TGateDecision decision;
    decision.Action = TGateAction::Answer;
    decision.Verdict = CheckHost(request.Request, Access, Local);
    if (decision.Verdict.Refusal == TRefusal::None) {
        decision.Response = std::move(pageResponse);
    } else {
        decision.Response = ErrorStatusResponse(ErrorCode::AccessRefused);
        NoteRefusal(request, ErrorCode::AccessRefused, decision.Verdict, decision);
    }
    return decision;
}

void TAccessGate::AnswerFramingError(const TGateRequest& request, TGateDecision& decision) {
    const uint8_t code = request.Request.Error;
    if (code == ErrorCode::None) {
        return;
    }
    decision.Action = TGateAction::Answer;
    decision.Response = ErrorStatusResponse(code);
    Refusals.Note(request.NowMs, {{TLogKind::Error, ErrorLine(code, ErrorText(code))}},
                  decision.Lines);
}

void TAccessGate::NoteRefusal(const TGateRequest& request, uint8_t code,
                              const TAccessVerdict& verdict, TGateDecision& decision) {
    Refusals.Note(request.NowMs,
                  {{TLogKind::Error,
                    RefusalLine(code, RefusalReason(verdict.Refusal), request.Peer, verdict)}},
                  decision.Lines);
}

void TAccessGate::RefreshAddresses() {
    if (Access.Listen == TListenScope::Any && Addresses) {
        Local.Addresses = Addresses();
    }
}

void TAccessGate::OriginAsked(const std::string& origin) {
    if (AskedOrigins.size() < kRememberedOrigins) {
        AskedOrigins.insert(LowerAscii(origin));
    }
}

void TAccessGate::DecideOrigin(const std::string& origin, bool allowed) {
    Access.OriginDecisions[LowerAscii(origin)] = allowed;
    AskedOrigins.erase(LowerAscii(origin));
}

void TAccessGate::ForgetOrigin(const std::string& origin) {
    const std::string lower = LowerAscii(origin);
    Access.OriginDecisions.erase(lower);
    AskedOrigins.erase(lower);
    Activity.erase(lower);
    SeenOrigins.erase(origin);
    SeenOrigins.erase(lower);
}

void TAccessGate::NoteActivity(const std::string& origin, uint64_t nowMs) {
    // What no browser sends is neither asked about nor listed: nothing the operator could do.
    if ((!PlausibleOrigin(origin) && origin != "null") || OwnOrigin(origin, Access, Local)) {
        return;
    }
    auto found = Activity.find(origin);
    if (found == Activity.end()) {
        if (Activity.size() >= kRememberedOrigins) {
            Activity.erase(std::min_element(Activity.begin(), Activity.end(),
                                            [](const auto& one, const auto& other) {
                                                return one.second.LastMs < other.second.LastMs;
                                            }));
        }
        found = Activity.emplace(origin, TOriginActivity{}).first;
    }
    ++found->second.Requests;
    found->second.LastMs = nowMs;
}

std::vector<TKnownOrigin> TAccessGate::KnownOrigins(uint64_t nowMs) const {
    std::map<std::string, TKnownOrigin> known;
    for (const auto& [origin, allowed] : Access.OriginDecisions) {
        known[origin].Allowed = allowed;
    }
    for (const auto& [origin, activity] : Activity) {
        TKnownOrigin& entry = known[origin];
        entry.Requests = activity.Requests;
        entry.SinceLastRequestMs = nowMs >= activity.LastMs ? nowMs - activity.LastMs : 0;
    }
    std::vector<TKnownOrigin> origins;
    origins.reserve(known.size());
    for (auto& [origin, entry] : known) {
        entry.Origin = origin;
        origins.push_back(std::move(entry));
    }
    return origins;
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
