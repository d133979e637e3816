#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "BridgeHost.h"
#include "HttpFraming.h"
#include "RequestProcedure.h"

class TRavo32;

// One request from its parsed bytes to the response bytes: its framing error, or the request
// procedure; closing the port, and the response. None when the link's stop request cut
// the request short: a stopped request is never answered. An exception inside the procedure is
// answered with the internal fault (255, -1 in the reply) and a line that names it. It takes any
// request; the server's gate answers a request without sound framing itself, alike.
std::optional<std::string> ServeRequest(const THttpRequest& request, TRavo32& link,
                                        TBridgeHost& host, const TProcedureOptions& options = {});

// The whole response for a request whose serving failed beyond its own reply (the host itself
// threw): the three status members of the internal fault, made without the host.
std::string InternalFaultResponse();

// "Error[-1] - <text of the internal fault>: <what happened>"
std::string InternalFaultLine(std::string_view what);
