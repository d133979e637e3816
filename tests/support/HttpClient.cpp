#include "HttpClient.h"

#include <chrono>
#include <cstdlib>

#include "UriCodec.h"

std::optional<std::string> THttpClient::ReadResponse(int timeoutMs) {
    return ReadFramed(timeoutMs, 2);
}

std::optional<std::string> THttpClient::ReadPageResponse(int timeoutMs) {
    return ReadFramed(timeoutMs, 0);
}

std::optional<std::string> THttpClient::ReadFramed(int timeoutMs, size_t afterBody) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto left = [&] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    };
    size_t headerEnd = std::string::npos;
    while ((headerEnd = Pending.find("\r\n\r\n")) == std::string::npos) {
        if (left() <= 0 || !ReadMore(left())) {
            return std::nullopt;
        }
    }
    const std::string lengthField = "Content-Length: ";
    const size_t field = Pending.find(lengthField);
    if (field == std::string::npos || field > headerEnd) {
        return std::nullopt;
    }
    const size_t length = std::strtoul(Pending.c_str() + field + lengthField.size(), nullptr, 10);
    const size_t total = headerEnd + 4 + length + afterBody;
    while (Pending.size() < total) {
        if (left() <= 0 || !ReadMore(left())) {
            return std::nullopt;
        }
    }
    std::string response = Pending.substr(0, total);
    Pending.erase(0, total);
    return response;
}

bool THttpClient::StaysSilent(int waitMs) {
    return Pending.empty() && !ReadMore(waitMs);
}

std::string ResponseBody(const std::string& response) {
    const size_t start = response.find("\r\n\r\n");
    if (start == std::string::npos || response.size() < start + 6) {
        return {};
    }
    return response.substr(start + 4, response.size() - start - 6);
}

std::string PostRequest(const std::string& json, int port) {
    const std::string body = "json_data=" + UriEncode(json);
    return "POST /modbus HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

namespace {

int ErrorCodeOfReply(uint16_t port, const std::string& request) {
    THttpClient client;
    std::optional<std::string> response;
    if (client.Connect(port) && client.Send(request)) {
        response = client.ReadResponse(5000);
    }
    const std::string body = response ? ResponseBody(*response) : "";
    const std::string key = "\"error_code\":";
    const size_t at = body.find(key);
    return at == std::string::npos ? -1 : std::atoi(body.c_str() + at + key.size());
}

}  // namespace

int ErrorCodeForOrigin(uint16_t port, const std::string& origin) {
    std::string request = PostRequest(R"({"company_id":1})", port);
    if (!origin.empty()) {
        request.insert(request.find("\r\n") + 2, "Origin: " + origin + "\r\n");
    }
    return ErrorCodeOfReply(port, request);
}

int ErrorCodeForJson(uint16_t port, const std::string& json) {
    return ErrorCodeOfReply(port, PostRequest(json, port));
}
