#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "AccessSettings.h"
#include "BridgePort.h"
#include "HttpFraming.h"

// What this machine answers to: the port it listens on, its host name and, when it listens on
// every interface, the addresses of its interfaces (as inet_ntop writes them).
struct TLocalNames {
    uint16_t Port = kBridgePort;
    std::string HostName;
    std::vector<std::string> Addresses;
};

enum class TRefusal {
    None,
    HostRepeated,
    HostNotAllowed,
    Navigation,
    OriginRepeated,
    // Listed as refused (=0), or refused by the operator.
    OriginNotAllowed,
    // Not in the list, and not to be asked about: Origins=list, or "null" and origins that no
    // browser sends with Origins=ask.
    OriginUnlisted,
    // Origins=ask: the operator has yet to answer.
    OriginUnanswered,
    KeyMissing,
    KeyWrong,
};

struct TAccessVerdict {
    TRefusal Refusal = TRefusal::None;
    // The first Host and Origin of the request, for the log and for asking the operator.
    bool HasHost = false;
    std::string Host;
    bool HasOrigin = false;
    std::string Origin;
};

// The access checks of a request whose HTTP framing is sound, in this order: Host (against DNS
// rebinding), fetch metadata (no navigations), Origin, key. The bridge's own origin passes the
// Origin check whatever the Origins setting says.
TAccessVerdict CheckAccess(const THttpRequest& request, const TAccessSettings& settings,
                           const TLocalNames& local);

// The Host check alone, which is all a GET of the bridge's page needs: opening a page is a
// navigation, and the page's files are the same for everybody.
TAccessVerdict CheckHost(const THttpRequest& request, const TAccessSettings& settings,
                         const TLocalNames& local);

// True when the Host header's value names this machine on its port.
bool HostAllowed(std::string_view host, const TAccessSettings& settings, const TLocalNames& local);

// True for the origin of the pages this bridge serves: "http://", a name that the Host check
// takes, and the port the bridge listens on.
bool OwnOrigin(std::string_view origin, const TAccessSettings& settings, const TLocalNames& local);

// An origin as browsers send it (http or https, a host and perhaps a port, in lower case): only
// such an origin is put to the operator and into the settings file. Not "null": every web site
// can send it from a sandboxed frame, so no answer of the operator may stand for it.
bool PlausibleOrigin(std::string_view origin);

// Compares in a time that depends on the expected key's length only.
bool KeysMatch(std::string_view expected, std::string_view given);

// The log's words for a refusal.
std::string RefusalReason(TRefusal refusal);

// Text from a request as the log shows it: cut short, control characters as "?".
std::string ShownRequestText(std::string_view text);

// "Error[<code>] - <text>: <reason> (адрес <peer>, Host: <host>, Origin: <origin>)"; request
// text is cut short and shown without control characters.
std::string RefusalLine(uint8_t code, std::string_view reason, std::string_view peer,
                        const TAccessVerdict& verdict);
