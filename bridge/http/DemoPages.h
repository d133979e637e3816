#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The bridge's own page lives under this path on its port: http://localhost:19284/demo/.
inline constexpr std::string_view kDemoPagePath = "/demo/";

// The request target of a GET request: the bytes begin with the request line
// "GET <target> HTTP/1.<digit>" and its CR LF, the target one or more visible ASCII characters.
// Anything else, a POST or a GET line that breaks this form, has none.
std::optional<std::string_view> GetRequestTarget(std::string_view received);

enum class TDemoPageKind {
    // Not a GET of /demo or below: the request keeps the usual road (a GET there gets 103).
    NotOurs,
    // 200 with one of the page's files.
    File,
    // 302 from /demo to /demo/.
    Redirect,
    // 404: below /demo/, but none of the page's files.
    NotFound,
};

struct TDemoPageAnswer {
    TDemoPageKind Kind = TDemoPageKind::NotOurs;
    // The whole response (status line, header block, body); empty for NotOurs.
    std::string Response;
};

// The answer to a GET of the bridge's page, decided on the request line alone: the path (the
// target before any "?") must equal a fixed path byte for byte, so nothing of the request
// reaches a file system and nothing of it comes back. The caller applies the Host check before
// it sends the response, as for a POST.
TDemoPageAnswer AnswerDemoPage(std::string_view received);

// True when the bytes a connection holds begin a GET of the page (/demo, /demo?..., /demo/...),
// or are still too few to tell. Such a request never touches the line, so it is read and answered
// also while another request is being served; any other stays unread then. Decided on the first
// kDemoPageRequestStartBytes bytes; more change nothing.
inline constexpr size_t kDemoPageRequestStartBytes = 10;
bool MayBeDemoPageRequest(std::string_view held);

// The start line that says where the page is, on the port the bridge listens on.
std::string DemoPageLine(uint16_t port);
