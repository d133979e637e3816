#include "RequestWorker.h"

#include <json/value.h>

#include <exception>

#include "HttpFraming.h"
#include "Ravo32.h"
#include "RequestErrors.h"
#include "RequestProcedure.h"

std::optional<std::string> ServeRequest(std::string_view received, TRavo32& link, TBridgeHost& host,
                                        const TProcedureOptions& options) {
    Json::Value reply;
    TProcedureEnd end = TProcedureEnd::Completed;
    const THttpRequest request = ParseHttpRequest(received);
    if (request.Error != ErrorCode::None) {
        SetErrorReply(reply, request.Error, host);
    } else {
        try {
            end = RunRequestProcedure(request.Json, reply, link, host, options);
        } catch (const std::exception&) {
            // Only the JSON library throws here, on a value it cannot handle; such a request
            // is as unusable as one that does not parse.
            SetErrorReply(reply, ErrorCode::JsonParse, host);
        }
    }
    if (link.IsOpen()) {
        link.Disconnect();
    }
    if (end == TProcedureEnd::Stopped || link.StopRequested()) {
        return std::nullopt;
    }
    return BuildHttpResponse(reply);
}
