#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A blocking TCP client on loopback for end-to-end tests. Every wait is bounded. The socket calls
// are each platform's (PosixHttpClientSocket.cpp, Win32HttpClientSocket.cpp).
class THttpClient {
public:
    THttpClient() = default;
    ~THttpClient() { Close(); }
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    bool Connect(int port);
    bool Send(const std::string& bytes);
    // One response: header block, as many body bytes as Content-Length names, and the CR LF
    // that follows; the whole text, or none when it did not arrive within timeoutMs.
    std::optional<std::string> ReadResponse(int timeoutMs);
    // One response of the bridge's page: header block and as many body bytes as Content-Length
    // names, nothing after them.
    std::optional<std::string> ReadPageResponse(int timeoutMs);
    // True when no byte arrives within waitMs.
    bool StaysSilent(int waitMs);
    // True when the server closes the connection within waitMs.
    bool ClosedByServer(int waitMs);
    void Close();

private:
    bool ReadMore(int timeoutMs);
    std::optional<std::string> ReadFramed(int timeoutMs, size_t afterBody);

    // A descriptor, or a Winsock SOCKET.
    intptr_t Fd = -1;
    std::string Pending;
};

// The body of a response text.
std::string ResponseBody(const std::string& response);

// A POST request a page would send with the percent-encoded JSON as json_data, to the bridge
// on this port of localhost.
std::string PostRequest(const std::string& json, int port = 19284);

// The error code of the bridge's reply to a request from a page of this origin (none: a program
// without Origin); -1 when no reply came. It blocks: call it from a thread other than the one
// whose event loop serves the bridge.
int ErrorCodeForOrigin(uint16_t port, const std::string& origin);

// The error code of the bridge's reply to the request's JSON (sent as a program without Origin
// sends it); -1 when no reply came. It blocks, as ErrorCodeForOrigin does.
int ErrorCodeForJson(uint16_t port, const std::string& json);
