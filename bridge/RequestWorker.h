#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "BridgeHost.h"
#include "RequestProcedure.h"

class TRavo32;

// One request from the bytes a connection delivered to the response bytes: the HTTP framing, the
// request procedure, closing the port, and the response. None when the link's stop request cut
// the request short: a stopped request is never answered.
std::optional<std::string> ServeRequest(std::string_view received, TRavo32& link, TBridgeHost& host,
                                        const TProcedureOptions& options = {});
