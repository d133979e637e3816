#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "BridgeHost.h"
#include "LineQueue.h"
#include "PortPolicy.h"

class TRavo32;

// The first parameter-table row that the request fails (108 to 121), or 0. The request is only
// read: members it looks up are not added.
uint8_t CheckParameters(const Json::Value& request);

// 0 when every member of "pdu" can be sent: an array or object of integers that fits a frame,
// or a single number (an empty PDU); otherwise 120.
uint8_t CheckPduMembers(const Json::Value& pdu);

// The byte that a value of a PDU member puts into the frame: the low byte of the integer. The
// port policy reads the function code with it, so it judges the byte that is sent.
uint8_t FrameByte(const Json::Value& integer);

// Logs ErrorLine whatever the view options and stores the three status members: the code as
// ShownErrorCode gives it and its text; or, with a text given (a device's verdict), the code read
// as a signed byte.
void SetErrorReply(Json::Value& reply, uint8_t code, TBridgeHost& host);
void SetErrorReply(Json::Value& reply, uint8_t code, const std::string& text, TBridgeHost& host);
// The three status members alone, nothing logged.
void SetErrorMembers(Json::Value& reply, int shownCode, const std::string& text);

// "Error[<code>] - <text>".
std::string ErrorLine(int shownCode, const std::string& text);

// The time-out the link waits for: 1 to 249 ms become 250, more than 60000 or a negative value
// 60000, so that no request can hold the port for days; 0 stays 0 (no answer awaited).
int32_t EffectiveTimeoutMs(int32_t requested);

enum class TProcedureEnd { Completed, Stopped };

// What a request's exchanges left on the line, for whoever shares it out.
struct TLineUse {
    TSlaveId Slave;
    // Whether the slave answered the last frame sent to it; none when that cannot tell (no answer
    // was awaited, or the frame could not be written).
    std::optional<bool> Answered;
    // The pause the baud rate asks for after the last exchange, when the request ended before it
    // was made; 0 when it was made.
    uint32_t PauseOwedMs = 0;
};

struct TProcedureOptions {
    // The bus turnaround pause after every answered exchange. Only a scripted line in a fuzzer
    // or a benchmark, where no device needs it, goes without.
    bool PauseAfterExchange = true;
    // Which ports the request may open and which only read; checked after the parameters,
    // before the port is opened.
    TPortPolicy Ports;
    // Told the reason of a port-policy refusal (126) instead of the plain error line, so that
    // the server can write it with the requester and within its limit of refusal lines.
    std::function<void(const std::string& reason)> PortRefused;
    // Told once, after the last exchange of a request that sent at least one frame.
    std::function<void(const TLineUse& use)> LineUsed;
};

// Parses and checks the JSON request, opens the port, sends every PDU in the order of the member
// names and fills the reply with the request, the results and any error. Stopped when the link's
// stop request ended it; the reply is then not to be sent. The port may be left open.
TProcedureEnd RunRequestProcedure(std::string_view jsonText, Json::Value& reply, TRavo32& link,
                                  TBridgeHost& host, const TProcedureOptions& options = {});

// The slave a request's JSON text names (its COM port and address) when the text parses and passes
// the parameter check; none when the request fails before the line.
std::optional<TSlaveId> RequestSlave(std::string_view jsonText);

// The reply to a request that the bridge answers without sending anything of it: the request's
// members when its JSON text parses, and the three status members of the code. Nothing is logged.
Json::Value UnsentRequestReply(std::string_view jsonText, uint8_t code);
