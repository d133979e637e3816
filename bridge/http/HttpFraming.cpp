#include "HttpFraming.h"

#include <json/writer.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "Cp1251.h"
#include "RequestErrors.h"
#include "UriCodec.h"
#include "Utf8.h"

namespace {

constexpr std::string_view kMissing = "0";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

bool AllUtf8(const Json::Value& value) {
    if (value.isString()) {
        const char* begin = nullptr;
        const char* end = nullptr;
        value.getString(&begin, &end);
        return IsValidUtf8(std::string_view(begin, static_cast<size_t>(end - begin)));
    }
    if (value.isObject()) {
        for (auto member = value.begin(); member != value.end(); ++member) {
            if (!IsValidUtf8(member.name()) || !AllUtf8(*member)) {
                return false;
            }
        }
    } else if (value.isArray()) {
        for (const Json::Value& element : value) {
            if (!AllUtf8(element)) {
                return false;
            }
        }
    }
    return true;
}

Json::Value WithUtf8Strings(const Json::Value& value) {
    if (value.isString()) {
        const char* begin = nullptr;
        const char* end = nullptr;
        value.getString(&begin, &end);
        return Json::Value(AsUtf8(std::string_view(begin, static_cast<size_t>(end - begin))));
    }
    if (value.isObject()) {
        Json::Value converted(Json::objectValue);
        for (auto member = value.begin(); member != value.end(); ++member) {
            converted[AsUtf8(member.name())] = WithUtf8Strings(*member);
        }
        return converted;
    }
    if (value.isArray()) {
        Json::Value converted(Json::arrayValue);
        for (const Json::Value& element : value) {
            converted.append(WithUtf8Strings(element));
        }
        return converted;
    }
    return value;
}

std::string_view TrimControl(std::string_view text) {
    while (!text.empty() && static_cast<uint8_t>(text.front()) <= 32) {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<uint8_t>(text.back()) <= 32) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string ExtractAfter(std::string_view text, std::string_view marker,
                         std::string_view endCharacters) {
    const size_t found = text.find(marker);
    if (found == std::string_view::npos) {
        return std::string(kMissing);
    }
    std::string_view result = text.substr(found + marker.size());
    for (const char end : endCharacters) {
        result = result.substr(0, result.find(end));
    }
    return std::string(result);
}

THttpRequest ParseHttpRequest(std::string received) {
    const size_t headerEnd = received.find(kHeaderEnd);
    return ParseHttpRequest(std::move(received), headerEnd);
}

THttpRequest ParseHttpRequest(std::string received, size_t headerEnd) {
    THttpRequest request;
    request.Received = std::move(received);
    request.HeaderEnd = headerEnd;
    const std::string line = ExtractAfter(request.Received, "POST", "\r\n");
    if (line == kMissing) {
        request.Error = ErrorCode::NoPostLine;
        return request;
    }
    if (ExtractAfter(line, "HTTP/", "\r\n") == kMissing) {
        request.Error = ErrorCode::NoHttpVersion;
        return request;
    }
    const std::string_view body = request.Body();
    // A body that is exactly "0" reads as the missing marker, as it always has.
    if (headerEnd == std::string::npos || body == kMissing) {
        request.Error = ErrorCode::NoHeaderEnd;
        return request;
    }
    std::string decoded = UriDecode(body.substr(0, body.find('\0')));
    decoded.resize(std::min(decoded.size(), decoded.find('\0')));
    std::string json = ExtractAfter(decoded, "json_data=", "");
    if (json == kMissing) {
        request.Error = ErrorCode::NoJsonData;
        return request;
    }
    request.Json = std::move(json);
    return request;
}

std::string SerializeReply(const Json::Value& reply) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    builder["emitUTF8"] = true;
    const std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    std::ostringstream text;
    writer->write(AllUtf8(reply) ? reply : WithUtf8Strings(reply), &text);
    return std::string(TrimControl(text.str()));
}

std::string ErrorStatusResponse(uint8_t code) {
    Json::Value reply;
    reply["status"] = "error";
    reply["error_code"] = ShownErrorCode(code);
    reply["error_text"] = ErrorText(ShownErrorCode(code));
    return BuildHttpResponse(reply);
}

std::string BuildHttpResponse(const Json::Value& reply) {
    const std::string body = SerializeReply(reply);
    std::string response;
    response.reserve(body.size() + 256);
    response.append("HTTP/1.1 200 OK\r\n");
    response.append("Server: RAVO Duridur Vextrona-KT\r\n");
    response.append("Content-Type: application/json; charset=utf-8\r\n");
    response.append("Content-Length: " + std::to_string(body.size()) + "\r\n");
    response.append("Access-Control-Request-Method: GET, POST\r\n");
    response.append("Access-Control-Allow-Origin: *\r\n");
    response.append("Connection: keep-alive\r\n");
    response.append("\r\n");
    response.append(body);
    response.append("\r\n");
    return response;
}
