#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "DemoPageFiles.h"
#include "DemoPages.h"

namespace {

using namespace std::string_literals;

std::string SourceFile(const std::string& path) {
    std::ifstream file(std::string(PROJECT_SOURCE_PATH) + "/" + path, std::ios::binary);
    EXPECT_TRUE(file) << path;
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string Get(const std::string& target, const std::string& version = "HTTP/1.1") {
    return "GET " + target + " " + version +
           "\r\nHost: localhost:19284\r\nSec-Fetch-Mode: navigate\r\n\r\n";
}

struct TParsed {
    std::string StatusLine;
    std::multimap<std::string, std::string> Headers;
    std::string Body;
};

// Splits a response and checks what every response must hold: one header of each name and a
// Content-Length that counts the body exactly.
TParsed Parse(const std::string& response) {
    TParsed parsed;
    const size_t end = response.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos);
    std::istringstream head(response.substr(0, end));
    std::getline(head, parsed.StatusLine);
    parsed.StatusLine.pop_back();
    for (std::string line; std::getline(head, line);) {
        const size_t colon = line.find(": ");
        EXPECT_NE(colon, std::string::npos) << line;
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        parsed.Headers.emplace(line.substr(0, colon), line.substr(colon + 2));
    }
    parsed.Body = response.substr(end + 4);
    for (const auto& [name, value] : parsed.Headers) {
        EXPECT_EQ(parsed.Headers.count(name), 1U) << name;
    }
    EXPECT_EQ(parsed.Headers.find("Content-Length")->second, std::to_string(parsed.Body.size()));
    return parsed;
}

struct TAsset {
    std::string Target;
    std::string Source;
    std::string ContentType;
};

const TAsset kAssets[] = {
    {"/demo/", "web/index.html", "text/html; charset=utf-8"},
    {"/demo/index.html", "web/index.html", "text/html; charset=utf-8"},
    {"/demo/demo.js", "web/demo.js", "text/javascript; charset=utf-8"},
    {"/demo/demo.css", "web/demo.css", "text/css; charset=utf-8"},
    {"/demo/client/modbus-bridge.js", "web/client/modbus-bridge.js",
     "text/javascript; charset=utf-8"},
    {"/demo/page-dom.js", "web/page-dom.js", "text/javascript; charset=utf-8"},
    {"/demo/bus-scan.js", "web/bus-scan.js", "text/javascript; charset=utf-8"},
    {"/demo/scan-card.js", "web/scan-card.js", "text/javascript; charset=utf-8"},
    {"/demo/register-map.js", "web/register-map.js", "text/javascript; charset=utf-8"},
    {"/demo/map-card.js", "web/map-card.js", "text/javascript; charset=utf-8"},
    {"/demo/typed-values.js", "web/typed-values.js", "text/javascript; charset=utf-8"},
    {"/demo/value-log.js", "web/value-log.js", "text/javascript; charset=utf-8"},
    {"/demo/icon.svg", "packaging/modbus-bridge.svg", "image/svg+xml"},
};

TEST(DemoPagesTest, EveryFileIsServedAsItIsInTheSourceTree) {
    for (const TAsset& asset : kAssets) {
        for (const std::string& query : {""s, "?v=2"s, "?"s, "?../../etc/passwd"s}) {
            for (const std::string& version : {"HTTP/1.1"s, "HTTP/1.0"s}) {
                const TDemoPageAnswer answer = AnswerDemoPage(Get(asset.Target + query, version));
                ASSERT_EQ(answer.Kind, TDemoPageKind::File) << asset.Target << query;
                const TParsed parsed = Parse(answer.Response);
                EXPECT_EQ(parsed.StatusLine, "HTTP/1.1 200 OK");
                EXPECT_EQ(parsed.Headers.find("Content-Type")->second, asset.ContentType);
                EXPECT_TRUE(parsed.Body == SourceFile(asset.Source)) << asset.Target << query;
            }
        }
    }
}

TEST(DemoPagesTest, EveryCompiledInFileHasARowAbove) {
    std::set<std::string> tested;
    for (const TAsset& asset : kAssets) {
        tested.insert(asset.Target);
    }
    for (const TEmbeddedFile& file : DemoPageFiles()) {
        EXPECT_EQ(tested.count("/demo/" + std::string(file.Name)), 1U) << file.Name;
    }
}

// Whatever the page loads, by the paths its markup names and its modules import, one module
// from another, is served.
TEST(DemoPagesTest, EverythingThePageLoadsIsServed) {
    std::vector<std::string> loaded;
    // What follows each opening up to the closing quote, as a path under web/ seen from folder.
    // Plain search: GCC's <regex> trips its own uninitialised-use warning in the sanitizer build.
    const auto quoted = [&loaded](const std::string& text, const std::string& opening, char close,
                                  const std::string& folder) {
        for (size_t at = text.find(opening); at != std::string::npos;
             at = text.find(opening, at + 1)) {
            const size_t start = at + opening.size();
            std::string path = text.substr(start, text.find(close, start) - start);
            if (path.starts_with("./")) {
                path.erase(0, 2);
            }
            if (std::find(loaded.begin(), loaded.end(), folder + path) == loaded.end()) {
                loaded.push_back(folder + path);
            }
        }
    };
    const std::string markup = SourceFile("web/index.html");
    quoted(markup, "src=\"", '"', "");
    quoted(markup, "href=\"", '"', "");
    for (size_t i = 0; i < loaded.size(); ++i) {
        const std::string path = loaded[i];
        if (path.ends_with(".js")) {
            quoted(SourceFile("web/" + path), "from '", '\'', path.substr(0, path.rfind('/') + 1));
        }
    }
    ASSERT_GE(loaded.size(), 10U);
    for (const std::string& path : loaded) {
        EXPECT_EQ(AnswerDemoPage(Get("/demo/" + path)).Kind, TDemoPageKind::File) << path;
    }
}

TEST(DemoPagesTest, PagesCarryAStrictHeaderBlock) {
    for (const TAsset& asset : kAssets) {
        const TParsed parsed = Parse(AnswerDemoPage(Get(asset.Target)).Response);
        std::set<std::string> names;
        for (const auto& [name, value] : parsed.Headers) {
            names.insert(name);
        }
        EXPECT_EQ(names,
                  (std::set<std::string>{
                      "Cache-Control", "Content-Length", "Content-Security-Policy", "Content-Type",
                      "Cross-Origin-Opener-Policy", "Cross-Origin-Resource-Policy",
                      "Referrer-Policy", "X-Content-Type-Options", "X-Frame-Options"}));
        const auto header = [&](const std::string& name) {
            return parsed.Headers.find(name)->second;
        };
        EXPECT_EQ(header("Cache-Control"), "no-cache");
        EXPECT_EQ(header("X-Content-Type-Options"), "nosniff");
        EXPECT_EQ(header("Referrer-Policy"), "no-referrer");
        EXPECT_EQ(header("X-Frame-Options"), "DENY");
        EXPECT_EQ(header("Cross-Origin-Resource-Policy"), "same-origin");
        EXPECT_EQ(header("Content-Security-Policy"),
                  "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                  "connect-src 'self'; base-uri 'none'; form-action 'none'; "
                  "frame-ancestors 'none'");
    }
}

struct TCase {
    std::string Name;
    std::string Request;
    TDemoPageKind Kind;
};

const std::string kLong(100000, 'a');

const TCase kCases[] = {
    {"/demo leads to /demo/", Get("/demo"), TDemoPageKind::Redirect},
    {"/demo with a query", Get("/demo?x=1"), TDemoPageKind::Redirect},
    {"the root", Get("/"), TDemoPageKind::NotOurs},
    {"the icon browsers ask for", Get("/favicon.ico"), TDemoPageKind::NotOurs},
    {"a name that only begins like it", Get("/demox"), TDemoPageKind::NotOurs},
    {"upper case", Get("/DEMO/"), TDemoPageKind::NotOurs},
    {"a double slash", Get("//demo/"), TDemoPageKind::NotOurs},
    {"a backslash after /demo", Get(R"(/demo\..\README.md)"), TDemoPageKind::NotOurs},
    {"an absolute-form target", Get("http://localhost:19284/demo/"), TDemoPageKind::NotOurs},
    {"a long path elsewhere", Get("/" + kLong), TDemoPageKind::NotOurs},
    {"dot segments", Get("/demo/../README.md"), TDemoPageKind::NotFound},
    {"encoded dot segments", Get("/demo/%2e%2e/README.md"), TDemoPageKind::NotFound},
    {"an encoded slash", Get("/demo/..%2fREADME.md"), TDemoPageKind::NotFound},
    {"a dot segment before a file", Get("/demo/./index.html"), TDemoPageKind::NotFound},
    {"an encoded name of a file", Get("/demo/index%2ehtml"), TDemoPageKind::NotFound},
    {"a backslash below /demo/", Get(R"(/demo/..\..\README.md)"), TDemoPageKind::NotFound},
    {"an encoded NUL", Get("/demo/demo.js%00.html"), TDemoPageKind::NotFound},
    {"a folder of the page", Get("/demo/client/"), TDemoPageKind::NotFound},
    {"a folder without its slash", Get("/demo/client"), TDemoPageKind::NotFound},
    {"a file as a folder", Get("/demo/index.html/"), TDemoPageKind::NotFound},
    {"a fragment", Get("/demo/#top"), TDemoPageKind::NotFound},
    {"the client's declarations, not loaded by the page", Get("/demo/client/modbus-bridge.d.ts"),
     TDemoPageKind::NotFound},
    {"the page's tests", Get("/demo/tests/demo.test.mjs"), TDemoPageKind::NotFound},
    {"a long path below /demo/", Get("/demo/" + kLong), TDemoPageKind::NotFound},
    {"a long query", Get("/demo/?" + kLong), TDemoPageKind::File},
    {"POST in the bytes of a GET of the page", Get("/demo/?POST") + "json_data={}",
     TDemoPageKind::File},
    {"a POST", "POST /demo/ HTTP/1.1\r\nHost: localhost:19284\r\n\r\njson_data={}",
     TDemoPageKind::NotOurs},
    {"a lower-case method", "get /demo/ HTTP/1.1\r\n\r\n", TDemoPageKind::NotOurs},
    {"a HEAD", "HEAD /demo/ HTTP/1.1\r\n\r\n", TDemoPageKind::NotOurs},
    {"a NUL in the target", "GET /demo/\0 HTTP/1.1\r\n\r\n"s, TDemoPageKind::NotOurs},
    {"a NUL after the file", "GET /demo/demo.js\0.html HTTP/1.1\r\n\r\n"s, TDemoPageKind::NotOurs},
    {"a tab in the target", "GET /demo/\tx HTTP/1.1\r\n\r\n", TDemoPageKind::NotOurs},
    {"bytes above ASCII in the target", "GET /demo/\xD0\xB0 HTTP/1.1\r\n\r\n",
     TDemoPageKind::NotOurs},
    {"two spaces", "GET  /demo/ HTTP/1.1\r\n\r\n", TDemoPageKind::NotOurs},
    {"no target", "GET  HTTP/1.1\r\n\r\n", TDemoPageKind::NotOurs},
    {"no version", "GET /demo/\r\n\r\n", TDemoPageKind::NotOurs},
    {"HTTP/2", "GET /demo/ HTTP/2\r\n\r\n", TDemoPageKind::NotOurs},
    {"a version without its digit", "GET /demo/ HTTP/1.\r\n\r\n", TDemoPageKind::NotOurs},
    {"more after the version", "GET /demo/ HTTP/1.1x\r\n\r\n", TDemoPageKind::NotOurs},
    {"a line feed alone", "GET /demo/ HTTP/1.1\n\n", TDemoPageKind::NotOurs},
    {"a request line cut short", "GET /demo/ HTTP/1.1", TDemoPageKind::NotOurs},
    {"something before the request line", "\r\nGET /demo/ HTTP/1.1\r\n\r\n",
     TDemoPageKind::NotOurs},
    {"nothing", "", TDemoPageKind::NotOurs},
};

TEST(DemoPagesTest, OnlyExactPathsOfThePageAreServed) {
    const std::string notFound = AnswerDemoPage(Get("/demo/nothing")).Response;
    const std::string redirect = AnswerDemoPage(Get("/demo")).Response;
    for (const TCase& test : kCases) {
        const TDemoPageAnswer answer = AnswerDemoPage(test.Request);
        EXPECT_EQ(answer.Kind, test.Kind) << test.Name;
        switch (test.Kind) {
            case TDemoPageKind::NotOurs:
                EXPECT_TRUE(answer.Response.empty()) << test.Name;
                break;
            case TDemoPageKind::File:
                EXPECT_TRUE(answer.Response == AnswerDemoPage(Get("/demo/")).Response) << test.Name;
                break;
            // Nothing of the request comes back: these answers are fixed bytes.
            case TDemoPageKind::NotFound:
                EXPECT_EQ(answer.Response, notFound) << test.Name;
                break;
            case TDemoPageKind::Redirect:
                EXPECT_EQ(answer.Response, redirect) << test.Name;
                break;
        }
    }

    const TParsed missing = Parse(notFound);
    EXPECT_EQ(missing.StatusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(missing.Headers.find("Content-Type")->second, "text/plain; charset=utf-8");
    EXPECT_EQ(missing.Body, "На мосту нет такой страницы. Страница моста: /demo/\n");
    const TParsed moved = Parse(redirect);
    EXPECT_EQ(moved.StatusLine, "HTTP/1.1 302 Found");
    EXPECT_EQ(moved.Headers.find("Location")->second, "/demo/");
    EXPECT_EQ(moved.Body, "");
}

TEST(DemoPagesTest, TheTargetIsTheRequestLinesSecondWord) {
    EXPECT_EQ(GetRequestTarget(Get("/demo/?a=b&c")), "/demo/?a=b&c");
    EXPECT_EQ(GetRequestTarget(Get("/x", "HTTP/1.9")), "/x");
    EXPECT_EQ(GetRequestTarget(Get("*")), "*");
    EXPECT_EQ(GetRequestTarget("POST / HTTP/1.1\r\n\r\n"), std::nullopt);
}

}  // namespace

namespace {

// While another request is served only what may still be a GET of the page is read: every
// beginning of a request the page answers, and nothing that is already something else.
TEST(DemoPagesTest, OnlyWhatMayBeARequestForThePageIsReadWhileBusy) {
    for (const TCase& test : kCases) {
        if (test.Kind == TDemoPageKind::NotOurs) {
            continue;
        }
        for (size_t length = 0; length <= test.Request.size(); length += 1 + length / 8) {
            EXPECT_TRUE(MayBeDemoPageRequest(test.Request.substr(0, length)))
                << test.Name << ", first " << length << " bytes";
        }
    }
    const std::pair<std::string, bool> held[] = {
        {"", true},
        {"GE", true},
        {"GET /dem", true},
        {"GET /demo", true},
        {"GET /demo?", true},
        {"GET /demo/x.js HTTP/1.1\r\n", true},
        {"GET /demox", false},
        {"GET / HTTP/1.1\r\n\r\n", false},
        {"GET //demo/", false},
        {"get /demo/", false},
        {"POST /demo/ HTTP/1.1", false},
        {"P", false},
        {"\r\nGET /demo/", false},
    };
    for (const auto& [bytes, page] : held) {
        EXPECT_EQ(MayBeDemoPageRequest(bytes), page) << bytes;
    }
}

TEST(DemoPagesTest, TheStartLineNamesThePageOnThePortListenedOn) {
    EXPECT_EQ(DemoPageLine(19284), "Страница моста: http://localhost:19284/demo/");
    EXPECT_EQ(DemoPageLine(40001), "Страница моста: http://localhost:40001/demo/");
}

}  // namespace
