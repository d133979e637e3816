#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "AccessCheck.h"
#include "AccessSettings.h"
#include "HttpFraming.h"
#include "LimitedLines.h"

// A request that has arrived whole, as the server hands it to the gate.
struct TGateRequest {
    // The bytes the connection delivered, parsed once; the worker takes the same.
    const THttpRequest& Request;
    // The peer's address, as the log names it.
    std::string_view Peer;
    // Milliseconds of a monotonic clock.
    uint64_t NowMs = 0;
    // The host's "errors only" view: the first-request line of a page is left out.
    bool ErrorsOnly = false;
    // Someone is there to answer a question about a page's origin (the window).
    bool CanAsk = false;
    // Another request is being served at this moment.
    bool Busy = false;
};

enum class TGateAction {
    // The worker takes the request: procedure, port.
    Serve,
    // The gate's response goes back at once; nothing reaches the line.
    Answer,
    // Another request is being served: the request stays with its connection, unanswered, and
    // the server writes its busy lines.
    Busy,
};

struct TGateDecision {
    TGateAction Action = TGateAction::Serve;
    // Host and Origin as the request named them, for the lines of a later port-policy refusal.
    TAccessVerdict Verdict;
    // Answer: the whole response.
    std::string Response;
    // An origin to put to the operator now; OriginAsked once the question is in view.
    std::optional<std::string> Question;
    // For the log, in this order.
    std::vector<TLogEntry> Lines;
};

// An origin the gate knows: one the settings list (or the operator answered about), or one whose
// requests it has seen since the start.
struct TKnownOrigin {
    // In lower case.
    std::string Origin;
    // What the list says: allowed or refused; none when the origin is not in it.
    std::optional<bool> Allowed;
    // Requests seen since the start, whatever their answer.
    uint64_t Requests = 0;
    // How long ago the last of them came, in milliseconds; none when none came.
    std::optional<uint64_t> SinceLastRequestMs;

    bool operator==(const TKnownOrigin&) const = default;
};

// Who may drive the devices: the access settings applied to each request, the origins seen,
// asked about and answered by the operator, and the refusal lines (ten a second, then a count).
// It routes each request whole: a GET of the bridge's page is answered after the Host check
// alone, busy or not; anything else waits while another request is served, then passes every
// access check, whatever its framing, and only a request whose HTTP framing is sound reaches the
// worker: the gate answers the others' 103 to 106 itself, their lines within the refusals' limit,
// as any client can send them at will. Bytes, peer and time in; a decision, lines and response
// bytes out. No sockets, no clock.
class TAccessGate {
public:
    // Origins remembered for their first-request line and for the operator's question; a flood
    // of invented origins cannot grow the memory or the log beyond this.
    static constexpr size_t kRememberedOrigins = 1024;

    // The addresses of this machine's interfaces at this moment, as inet_ntop writes them.
    using TAddressSource = std::function<std::vector<std::string>()>;

    // The settings apply from the next request; origins seen and asked about are kept.
    void SetSettings(TAccessSettings settings);
    const TAccessSettings& Settings() const { return Access; }
    // The [Origins] section read again: its decisions replace all the operator's so far, from
    // the next request on; a question about an origin that now has a decision is not put again.
    void SetOriginDecisions(std::map<std::string, bool> decisions);
    // The port and host name the server listens under, once it listens.
    void SetLocalNames(uint16_t port, std::string hostName);
    // Asked for each request with Listen=any, where addresses come and go with the network.
    void SetAddressSource(TAddressSource source);

    TGateDecision Decide(const TGateRequest& request);

    // The question about the origin is in front of the operator, or waits its turn there: it is
    // not put again. A question that found no room is put again with the origin's next request.
    void OriginAsked(const std::string& origin);
    // The operator's answer: the origin's requests are served or refused from now on.
    void DecideOrigin(const std::string& origin, bool allowed);
    // The operator takes the origin off the list: from now on it is new again, asked about
    // (Origins=ask) or refused as unlisted, and its count of requests starts again.
    void ForgetOrigin(const std::string& origin);
    // Every origin of the list and every origin seen (the bridge's own excepted), by name; the
    // times from nowMs. Of the origins seen, the kRememberedOrigins most recent are kept, so that
    // a flood of invented origins cannot grow the memory, nor hide a site in use for long.
    std::vector<TKnownOrigin> KnownOrigins(uint64_t nowMs) const;

    // A request that the gate let through and the port policy refused (126): its line, within
    // the limit of refusal lines.
    std::vector<TLogEntry> PortRefused(std::string_view reason, std::string_view peer,
                                       const TAccessVerdict& verdict, uint64_t nowMs);

    // When Flush has a count of unlogged refusals to give.
    std::optional<uint64_t> FlushDue() const { return Refusals.FlushDue(); }
    std::vector<TLogEntry> Flush(uint64_t nowMs);

private:
    TGateDecision DecidePage(const TGateRequest& request, std::string pageResponse);
    // Listen=any: the Host check takes the addresses the interfaces have at this moment.
    void RefreshAddresses();
    // A request that passed the access checks without sound framing: its error (103 to 106) as
    // the worker would give it, its line within the limit of refusal lines.
    void AnswerFramingError(const TGateRequest& request, TGateDecision& decision);
    // Adds the refusal line of the request to the decision, within the limit of refusal lines.
    void NoteRefusal(const TGateRequest& request, uint8_t code, const TAccessVerdict& verdict,
                     TGateDecision& decision);
    // Counts a request of an origin that the operator could allow or refuse (and "null").
    void NoteActivity(const std::string& origin, uint64_t nowMs);

    struct TOriginActivity {
        uint64_t Requests = 0;
        uint64_t LastMs = 0;
    };

    TAccessSettings Access;
    TLocalNames Local;
    TAddressSource Addresses;
    std::set<std::string> SeenOrigins;
    std::set<std::string> AskedOrigins;
    // By the origin, in lower case as browsers send it.
    std::map<std::string, TOriginActivity> Activity;
    // The lines of refusals and of framing errors.
    TLimitedLines Refusals{UnloggedRefusalsLine};
};
