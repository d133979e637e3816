#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

#include "ErrorText.h"
#include "HttpFraming.h"

namespace {

using namespace std::string_literals;

TEST(ExtractAfterTest, CutsAfterMarkerAndBeforeEndCharacters) {
    struct TRow {
        std::string Text, Marker, Ends, Expected;
    };
    const std::vector<TRow> rows = {
        {"GET / HTTP/1.1", "POST", "\r\n", "0"},
        {"", "POST", "", "0"},
        {"POST / HTTP/1.1\r\nHost: x", "POST", "\r\n", " / HTTP/1.1"},
        // First cut at the CR, then at the LF in what is left.
        {"a=1\nb\rc", "a=", "\r\n", "1"},
        {"a=1\rb\nc", "a=", "\n\r", "1"},
        {"head\r\n\r\nbody\r\nmore", "\r\n\r\n", "", "body\r\nmore"},
        {"textMARK", "MARK", "\r\n", ""},
        {"a=1;a=2", "a=", ";", "1"},
    };
    for (const TRow& row : rows) {
        EXPECT_EQ(ExtractAfter(row.Text, row.Marker, row.Ends), row.Expected) << row.Text;
    }
}

std::string Post(const std::string& body) {
    return "POST /modbus HTTP/1.1\r\nHost: 127.0.0.1:19284\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\n\r\n" +
           body;
}

TEST(ParseHttpRequestTest, FindsJsonDataOrNamesTheMissingPart) {
    struct TRow {
        std::string Name, Received;
        uint8_t Error;
        std::string Json;
    };
    const std::vector<TRow> rows = {
        {"form body", Post("json_data=%7B%7D"), 0, "{}"},
        {"lower-case method", "post / HTTP/1.1\r\n\r\njson_data={}", 103, ""},
        {"GET request", "GET / HTTP/1.1\r\nHost: x\r\n\r\njson_data={}", 103, ""},
        {"no version", "POST / \r\nHost: x\r\n\r\njson_data={}", 104, ""},
        {"version on another line", "POST /\r\nVia: HTTP/1.1\r\n\r\njson_data={}", 104, ""},
        {"no header end", "POST / HTTP/1.1\r\nHost: x\r\n", 105, ""},
        {"bare LF line ends", "POST / HTTP/1.1\n\njson_data={}", 105, ""},
        // The body "0" reads as the marker-missing answer.
        {"body 0", Post("0"), 105, ""},
        {"json text 0", Post("json_data=0"), 106, ""},
        {"empty body", Post(""), 106, ""},
        {"no json_data field", Post("data=%7B%7D"), 106, ""},
        {"raw zero byte before the field", Post("a=1\0json_data={}"s), 106, ""},
        {"encoded zero byte before the field", Post("a=%00&json_data={}"), 106, ""},
        {"raw zero byte after the json", Post("json_data={\"a\":1}\0&b=2"s), 0, "{\"a\":1}"},
        {"encoded zero byte inside the json", Post("json_data=[1%00,2]"), 0, "[1"},
        {"plus stays plus", Post("json_data=%7B%22s%22%3A%22a+b%22%7D"), 0, "{\"s\":\"a+b\"}"},
        {"fields around json_data", Post("x=1&json_data=%5B1%5D&y=2"), 0, "[1]&y=2"},
    };
    for (const TRow& row : rows) {
        const THttpRequest parsed = ParseHttpRequest(row.Received);
        EXPECT_EQ(parsed.Error, row.Error) << row.Name;
        EXPECT_EQ(parsed.Json, row.Json) << row.Name;
    }
}

TEST(SerializeReplyTest, MembersInByteOrderOfTheirNames) {
    Json::Value reply;
    reply["9"] = 1;
    reply["10"] = 2;
    reply["b"] = 3;
    reply["B"] = 4;
    reply["a"] = 5;
    EXPECT_EQ(SerializeReply(reply), R"({"10":2,"9":1,"B":4,"a":5,"b":3})");
}

TEST(SerializeReplyTest, CompactOnOneLine) {
    Json::Value reply;
    reply["data"]["1"] = Json::Value(Json::arrayValue);
    reply["data"]["1"].append(1);
    reply["data"]["1"].append(Json::Value(Json::arrayValue));
    reply["data"]["1"][1].append(-127);
    reply["data"]["o"] = Json::Value(Json::objectValue);
    reply["e"] = Json::Value(Json::arrayValue);
    reply["n"] = Json::Value();
    reply["t"] = true;
    reply["u"] = 65535u;
    EXPECT_EQ(SerializeReply(reply),
              R"({"data":{"1":[1,[-127]],"o":{}},"e":[],"n":null,"t":true,"u":65535})");
}

TEST(SerializeReplyTest, KeepsValidUtf8AndReadsOtherBytesAsWindows1251) {
    Json::Value valid;
    valid["name"] = "Привет 😀";
    EXPECT_EQ(SerializeReply(valid), R"({"name":"Привет 😀"})");

    // One string that is not UTF-8 converts that string; valid ones beside it stay as they are.
    Json::Value mixed;
    mixed["a"] = "\xC0\xE1";
    mixed["b"] = "Жж";
    // Within one string too: only the bytes that are not UTF-8 are read as Windows-1251.
    mixed["c"] = "\xC0\xE1тест";
    EXPECT_EQ(SerializeReply(mixed), R"({"a":"Аб","b":"Жж","c":"Абтест"})");

    Json::Value name;
    name["\xC0\xE1"] = 1;
    EXPECT_EQ(SerializeReply(name), R"({"Аб":1})");

    Json::Value nested;
    nested["list"].append("\xC6");
    EXPECT_EQ(SerializeReply(nested), R"({"list":["Ж"]})");
}

TEST(SerializeReplyTest, EscapesControlCharacters) {
    Json::Value reply;
    reply["s"] = "a\nb\tc\"d\\e\rf\bg\fh";
    EXPECT_EQ(SerializeReply(reply), R"({"s":"a\nb\tc\"d\\e\rf\bg\fh"})");

    Json::Value zero;
    const std::string withZero = "a\0b"s;
    zero["z"] = Json::Value(withZero.data(), withZero.data() + withZero.size());
    EXPECT_EQ(SerializeReply(zero), R"({"z":"a\u0000b"})");

    // Every other control byte as \u00XX; the hex digits may be of either case.
    std::string controls;
    for (char c = 1; c < 0x20; ++c) {
        controls.push_back(c);
    }
    Json::Value all;
    all["c"] = controls;
    const std::string text = SerializeReply(all);
    for (const char c : text) {
        EXPECT_GE(static_cast<unsigned char>(c), 0x20) << text;
    }
    Json::Value back;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &back, &errors)) << errors;
    EXPECT_EQ(back["c"].asString(), controls);
}

TEST(BuildHttpResponseTest, FixedHeaderAndByteCountOfTheBody) {
    Json::Value reply;
    reply["status"] = "error";
    reply["error_code"] = 105;
    reply["error_text"] = ErrorText(105);
    const std::string body =
        R"({"error_code":105,"error_text":"Не найден конец HTTP заголовка","status":"error"})";
    // 103 bytes, 81 characters: Content-Length counts bytes.
    const std::string expected =
        "HTTP/1.1 200 OK\r\n"
        "Server: RAVO Duridur Vextrona-KT\r\n"
        "Content-Type: application/json; charset=utf-8\r\n"
        "Content-Length: 103\r\n"
        "Access-Control-Request-Method: GET, POST\r\n"
        "Access-Control-Allow-Origin: *\r\n"
        "Connection: keep-alive\r\n"
        "\r\n" +
        body + "\r\n";
    EXPECT_EQ(BuildHttpResponse(reply), expected);
}

}  // namespace
