#include "DemoPages.h"

#include <algorithm>

#include "DemoPageFiles.h"

namespace {

constexpr std::string_view kGetMethod = "GET ";
constexpr std::string_view kVersionPrefix = " HTTP/1.";
constexpr std::string_view kLineEnd = "\r\n";
// The path that leads to the page: the same without its closing slash.
constexpr std::string_view kDemoFolder = kDemoPagePath.substr(0, kDemoPagePath.size() - 1);
constexpr std::string_view kIndexFile = "index.html";
// How the request line of every GET that the page answers begins: the folder, or its path
// followed by the end of the target or by a query.
constexpr std::string_view kPageRequestStarts[] = {"GET /demo/", "GET /demo ", "GET /demo?"};
static_assert(kPageRequestStarts[0].size() == kDemoPageRequestStartBytes);

// The page runs its own scripts and styles and talks to the bridge it came from, nothing else;
// no other site may frame it (a framed page could be clicked through), embed its files or learn
// where it came from.
constexpr std::string_view kPageHeaders =
    "Cache-Control: no-cache\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
    "img-src 'self'; connect-src 'self'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "X-Frame-Options: DENY\r\n"
    "Cross-Origin-Opener-Policy: same-origin\r\n"
    "Cross-Origin-Resource-Policy: same-origin\r\n";

constexpr std::string_view kNotFoundText = "На мосту нет такой страницы. Страница моста: /demo/\n";

bool Visible(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7F;
}

std::string_view ContentType(std::string_view name) {
    if (name.ends_with(".html")) {
        return "text/html; charset=utf-8";
    }
    if (name.ends_with(".js")) {
        return "text/javascript; charset=utf-8";
    }
    if (name.ends_with(".css")) {
        return "text/css; charset=utf-8";
    }
    if (name.ends_with(".svg")) {
        return "image/svg+xml";
    }
    return "application/octet-stream";
}

std::string PageResponse(std::string_view status, std::string_view headers, std::string_view body) {
    std::string response;
    response.reserve(body.size() + 640);
    response.append("HTTP/1.1 ").append(status).append(kLineEnd);
    response.append(headers);
    response.append("Content-Length: ").append(std::to_string(body.size())).append(kLineEnd);
    response.append(kPageHeaders);
    response.append(kLineEnd);
    response.append(body);
    return response;
}

std::string ContentTypeHeader(std::string_view name) {
    return "Content-Type: " + std::string(ContentType(name)) + std::string(kLineEnd);
}

}  // namespace

std::optional<std::string_view> GetRequestTarget(std::string_view received) {
    if (!received.starts_with(kGetMethod)) {
        return std::nullopt;
    }
    const std::string_view rest = received.substr(kGetMethod.size());
    size_t length = 0;
    while (length < rest.size() && Visible(rest[length])) {
        ++length;
    }
    const std::string_view version = rest.substr(length);
    const size_t digit = kVersionPrefix.size();
    if (length == 0 || !version.starts_with(kVersionPrefix) || version.size() <= digit ||
        version[digit] < '0' || version[digit] > '9' ||
        version.substr(digit + 1, kLineEnd.size()) != kLineEnd) {
        return std::nullopt;
    }
    return rest.substr(0, length);
}

TDemoPageAnswer AnswerDemoPage(std::string_view received) {
    const std::optional<std::string_view> target = GetRequestTarget(received);
    if (!target) {
        return {};
    }
    // The page reads no query; a query only defeats caches.
    const std::string_view path = target->substr(0, target->find('?'));
    if (path == kDemoFolder) {
        return {TDemoPageKind::Redirect,
                PageResponse("302 Found", "Location: " + std::string(kDemoPagePath) + "\r\n", {})};
    }
    if (!path.starts_with(kDemoPagePath)) {
        return {};
    }
    std::string_view name = path.substr(kDemoPagePath.size());
    if (name.empty()) {
        name = kIndexFile;
    }
    for (const TEmbeddedFile& file : DemoPageFiles()) {
        if (file.Name == name) {
            return {TDemoPageKind::File,
                    PageResponse("200 OK", ContentTypeHeader(name), file.Bytes)};
        }
    }
    return {TDemoPageKind::NotFound,
            PageResponse("404 Not Found", "Content-Type: text/plain; charset=utf-8\r\n",
                         kNotFoundText)};
}

bool MayBeDemoPageRequest(std::string_view held) {
    for (const std::string_view start : kPageRequestStarts) {
        const size_t compared = std::min(held.size(), start.size());
        if (held.substr(0, compared) == start.substr(0, compared)) {
            return true;
        }
    }
    return false;
}

std::string DemoPageLine(uint16_t port) {
    return "Страница моста: http://localhost:" + std::to_string(port) + std::string(kDemoPagePath);
}
