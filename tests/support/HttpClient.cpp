#include "HttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "UriCodec.h"

bool THttpClient::Connect(int port) {
    Close();
    Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return Fd >= 0 && connect(Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool THttpClient::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(Fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool THttpClient::ReadMore(int timeoutMs) {
    pollfd readable{Fd, POLLIN, 0};
    if (poll(&readable, 1, timeoutMs) <= 0) {
        return false;
    }
    char buffer[65536];
    const ssize_t n = recv(Fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        return false;
    }
    Pending.append(buffer, static_cast<size_t>(n));
    return true;
}

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

bool THttpClient::ClosedByServer(int waitMs) {
    pollfd readable{Fd, POLLIN, 0};
    char byte = 0;
    return poll(&readable, 1, waitMs) == 1 && recv(Fd, &byte, 1, MSG_PEEK) == 0;
}

void THttpClient::Close() {
    if (Fd >= 0) {
        close(Fd);
        Fd = -1;
    }
    Pending.clear();
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
