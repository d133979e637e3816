#include "RequestWorker.h"

#include <json/value.h>

#include <exception>

#include "AccessCheck.h"
#include "HttpFraming.h"
#include "Ravo32.h"
#include "RequestErrors.h"
#include "RequestProcedure.h"

namespace {

// What the log says of an exception that is not a standard one, or has no text.
constexpr char kUnknownException[] = "исключение без описания";

void SetInternalFaultMembers(Json::Value& reply) {
    const auto code = static_cast<int8_t>(ErrorCode::InternalFault);
    reply["status"] = "error";
    reply["error_code"] = int{code};
    reply["error_text"] = ErrorText(code);
}

}  // namespace

std::string InternalFaultLine(std::string_view what) {
    const auto code = static_cast<int8_t>(ErrorCode::InternalFault);
    return "Error[" + std::to_string(code) + "] - " + ErrorText(code) + ": " +
           (what.empty() ? std::string(kUnknownException) : ShownRequestText(what));
}

std::string InternalFaultResponse() {
    Json::Value reply;
    SetInternalFaultMembers(reply);
    return BuildHttpResponse(reply);
}

std::optional<std::string> ServeRequest(const THttpRequest& request, TRavo32& link,
                                        TBridgeHost& host, const TProcedureOptions& options) {
    Json::Value reply;
    TProcedureEnd end = TProcedureEnd::Completed;
    host.RequestBegun();
    if (request.Error != ErrorCode::None) {
        SetErrorReply(reply, request.Error, host);
    } else {
        // The procedure reports every failure of the request as its code; an exception here is
        // a fault of the bridge (a bad JSON text never throws), and the request is still answered.
        std::string fault;
        bool faulted = false;
        try {
            end = RunRequestProcedure(request.Json, reply, link, host, options);
        } catch (const std::exception& error) {
            faulted = true;
            fault = error.what();
        } catch (...) {
            faulted = true;
        }
        if (faulted) {
            SetInternalFaultMembers(reply);
            host.LogError(InternalFaultLine(fault));
        }
    }
    if (link.IsOpen()) {
        link.Disconnect();
    }
    if (end == TProcedureEnd::Stopped || link.StopRequested()) {
        host.RequestEnded({});
        return std::nullopt;
    }
    host.RequestEnded({reply.get("error_code", 0).asInt(), reply.get("error_text", "").asString()});
    return BuildHttpResponse(reply);
}
