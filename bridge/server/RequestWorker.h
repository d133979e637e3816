#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "BridgeHost.h"
#include "RequestProcedure.h"

class TRavo32;

// One request from the bytes a connection delivered to the response bytes: the HTTP framing, the
// request procedure, closing the port, and the response. None when the link's stop request cut
// the request short: a stopped request is never answered. An exception inside the procedure is
// answered with the internal fault (255, -1 in the reply) and a line that names it. It takes any
// bytes; the server's gate answers a request without sound framing itself, alike.
std::optional<std::string> ServeRequest(std::string_view received, TRavo32& link, TBridgeHost& host,
                                        const TProcedureOptions& options = {});

// The whole response for a request whose serving failed beyond its own reply (the host itself
// threw): the three status members of the internal fault, made without the host.
std::string InternalFaultResponse();

// "Error[-1] - <text of the internal fault>: <what happened>"
std::string InternalFaultLine(std::string_view what);
