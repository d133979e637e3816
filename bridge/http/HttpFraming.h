#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

// The text after the first occurrence of the marker, cut before the first occurrence of each
// end character in turn; "0" when the marker does not occur.
std::string ExtractAfter(std::string_view text, std::string_view marker,
                         std::string_view endCharacters);

// A request parsed once, as the server hands it from the access gate to the worker: the bytes as
// they came, where their header block ends, and the JSON text of the json_data form field of a
// POST request, or the code of the first marker that is missing (103 to 106), in which case Json
// is empty.
struct THttpRequest {
    std::string Received;
    // Where the first empty line begins (its CR LF CR LF); npos when there is none.
    size_t HeaderEnd = std::string::npos;
    uint8_t Error = 0;
    std::string Json;

    // The bytes before the first empty line, all of them when there is none.
    std::string_view HeaderBlock() const { return std::string_view(Received).substr(0, HeaderEnd); }
    // The bytes after the first empty line; none when there is none.
    std::string_view Body() const {
        return HeaderEnd == std::string::npos ? std::string_view()
                                              : std::string_view(Received).substr(HeaderEnd + 4);
    }
};

THttpRequest ParseHttpRequest(std::string received);
// The same, where whoever assembled the bytes has found their first empty line already (npos:
// they hold none).
THttpRequest ParseHttpRequest(std::string received, size_t headerEnd);

// The compact UTF-8 serialisation of the reply: one line, members in byte order of their names.
// Request strings that are not valid UTF-8 are read as Windows-1251.
std::string SerializeReply(const Json::Value& reply);

// The fixed header block, the body of SerializeReply and a CR LF that Content-Length leaves out.
std::string BuildHttpResponse(const Json::Value& reply);

// The whole response to a request that ends before its JSON is read (the HTTP framing, 103 to
// 106; the access checks, 125 and 127): the usual header block and the three status members,
// nothing of the request.
std::string ErrorStatusResponse(uint8_t code);
