#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "ErrorText.h"
#include "RecordingHost.h"
#include "RequestProcedure.h"

namespace {

// Values come from JSON text, so that 100.0 and 1e2 are the numbers a page would send.
Json::Value Parse(const std::string& text) {
    Json::Value value;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors))
        << text << ": " << errors;
    return value;
}

Json::Value ValidRequest() {
    return Parse(R"({"company_id": 1, "device_id": 2, "slave_addr": 1, "baud_rate": 19200,
                     "com_port": 1, "poll_ms": 1000, "timeout_ms": 500, "ctrl_echo": false,
                     "ctrl_dtr": false, "ctrl_rts": false, "ctrl_invert": false,
                     "rand_string": "x", "pdu": {"a": [3, 0, 0, 0, 1]}})");
}

struct TRow {
    const char* Key;
    char Type;
    uint8_t Code;
};

const TRow kRows[] = {
    {"company_id", 'i', 108}, {"device_id", 'i', 109},   {"slave_addr", 'i', 110},
    {"baud_rate", 'i', 111},  {"com_port", 'i', 112},    {"poll_ms", 'i', 113},
    {"timeout_ms", 'i', 114}, {"ctrl_echo", 'b', 115},   {"ctrl_dtr", 'b', 116},
    {"ctrl_rts", 'b', 117},   {"ctrl_invert", 'b', 118}, {"rand_string", 's', 119},
    {"pdu", 'o', 120},
};

std::vector<std::string> Failing(char type) {
    std::vector<std::string> values = {"null", "[]", "{}"};
    switch (type) {
        case 'i':
            values.insert(values.end(), {"\"1\"", "true", "[1]", "{\"a\":1}", "1.5", "100.0", "1e2",
                                         "2147483648", "-2147483649"});
            break;
        case 'b':
            values.insert(values.end(), {"1", "0", "\"true\"", "[true]"});
            break;
        case 's':
            values.insert(values.end(), {"5", "false", "[\"x\"]"});
            break;
        default:
            values.insert(values.end(), {"\"x\"", "5", "[3,0]", "[[3,0]]"});
            break;
    }
    return values;
}

std::vector<std::string> Passing(char type) {
    switch (type) {
        case 'i':
            return {"-2147483648", "2147483647", "0"};
        case 'b':
            return {"true", "false"};
        case 's':
            return {"\"\"", "\"Привет\""};
        default:
            return {R"({"x": 5})", R"({"b": [6, 0, 1, 0, 2], "a": [3, 0, 0, 0, 1]})"};
    }
}

TEST(CheckParametersTest, ValidRequestPasses) {
    EXPECT_EQ(CheckParameters(ValidRequest()), 0);
}

TEST(CheckParametersTest, EveryRowRejectsMissingEmptyAndWrongValues) {
    for (const TRow& row : kRows) {
        Json::Value absent = ValidRequest();
        absent.removeMember(row.Key);
        EXPECT_EQ(CheckParameters(absent), row.Code) << row.Key << " absent";

        for (const std::string& value : Failing(row.Type)) {
            Json::Value request = ValidRequest();
            request[row.Key] = Parse(value);
            EXPECT_EQ(CheckParameters(request), row.Code) << row.Key << " = " << value;
        }
        for (const std::string& value : Passing(row.Type)) {
            Json::Value request = ValidRequest();
            request[row.Key] = Parse(value);
            EXPECT_EQ(CheckParameters(request), 0) << row.Key << " = " << value;
        }
    }
}

TEST(CheckParametersTest, FirstFailingRowWins) {
    Json::Value request = ValidRequest();
    request.removeMember("device_id");
    request.removeMember("company_id");
    request["pdu"] = 5;
    EXPECT_EQ(CheckParameters(request), 108);

    request["company_id"] = 1;
    request["ctrl_rts"] = 1;
    EXPECT_EQ(CheckParameters(request), 109);
}

TEST(CheckParametersTest, RootThatIsNoObjectIsAParseError) {
    EXPECT_EQ(CheckParameters(Parse("[1, 2]")), 107);
    EXPECT_EQ(CheckParameters(Json::Value()), 107);
}

TEST(CheckParametersTest, AddsNoMembers) {
    Json::Value request = ValidRequest();
    request.removeMember("timeout_ms");
    request.removeMember("pdu");
    const Json::ArrayIndex before = request.size();
    EXPECT_EQ(CheckParameters(request), 114);
    EXPECT_EQ(request.size(), before);
    EXPECT_FALSE(request.isMember("timeout_ms"));

    request["timeout_ms"] = 500;
    EXPECT_EQ(CheckParameters(request), 120);
    EXPECT_FALSE(request.isMember("pdu"));
}

TEST(CheckPduMembersTest, IntegerArraysObjectsAndSingleNumbersPass) {
    const char* passing[] = {
        R"({"a": [3, 0, 0, 0, 1]})",
        R"({"a": [300, -1, 1000, 18446744073709551615, -9223372036854775808]})",
        R"({"a": 5})",
        R"({"a": 1.5})",
        R"({"a": {"a": 3, "b": 0}})",
        R"({"a": []})",
        R"({"a": [3, 0], "b": 7, "c": {"x": 6}})",
        R"([[3, 0, 1], 4])",
        R"({})",
    };
    for (const char* text : passing) {
        EXPECT_EQ(CheckPduMembers(Parse(text)), 0) << text;
    }
}

TEST(CheckPduMembersTest, AnythingElseIs120) {
    const char* failing[] = {
        R"({"a": [3, "0"]})",      R"({"a": [3, [0]]})",  R"({"a": [3, {"b": 0}]})",
        R"({"a": [3, 1.5]})",      R"({"a": [3, 1e2]})",  R"({"a": [3, 100.0]})",
        R"({"a": [3, true]})",     R"({"a": [3, null]})", R"({"a": "3"})",
        R"({"a": true})",          R"({"a": null})",      R"({"a": {"b": "x"}})",
        R"({"a": [3], "b": "x"})",
    };
    for (const char* text : failing) {
        EXPECT_EQ(CheckPduMembers(Parse(text)), 120) << text;
    }
}

TEST(CheckPduMembersTest, LongestMemberFillsTheFrame) {
    // Slave address and CRC take 3 of the 256 bytes of a frame.
    for (const auto& [length, expected] : {std::pair{253u, 0}, std::pair{254u, 120}}) {
        Json::Value pdu;
        for (Json::ArrayIndex i = 0; i < length; ++i) {
            pdu["a"][i] = 0;
        }
        EXPECT_EQ(CheckPduMembers(pdu), expected) << length;
    }
}

TEST(EffectiveTimeoutMsTest, ClampsToTheUsableRange) {
    const std::pair<int32_t, int32_t> rows[] = {
        {0, 0},         {1, 250},       {249, 250},  {250, 250},         {251, 251},
        {60000, 60000}, {60001, 60000}, {-1, 60000}, {INT32_MIN, 60000}, {INT32_MAX, 60000},
    };
    for (const auto& [requested, effective] : rows) {
        EXPECT_EQ(EffectiveTimeoutMs(requested), effective) << requested;
    }
}

std::vector<std::string> MemberNames(const Json::Value& value) {
    return value.getMemberNames();
}

TEST(SetErrorReplyTest, StoresStatusMembersAndLogsTheError) {
    TRecordingHost host;
    Json::Value reply;
    SetErrorReply(reply, 123, host);
    EXPECT_EQ(MemberNames(reply), (std::vector<std::string>{"error_code", "error_text", "status"}));
    EXPECT_EQ(reply["status"], "error");
    EXPECT_EQ(reply["error_code"], 123);
    EXPECT_EQ(reply["error_text"], ErrorText(123));
    EXPECT_EQ(
        host.Lines(),
        (std::vector<TRecordingHost::TLine>{{TLogKind::Error, "Error[123] - " + ErrorText(123)}}));
}

TEST(SetErrorReplyTest, CodeIsASignedByte) {
    TRecordingHost host;
    Json::Value reply;
    SetErrorReply(reply, 0x81, host);
    EXPECT_EQ(reply["error_code"], -127);
    EXPECT_EQ(reply["error_text"], "Unknown ERROR");
    EXPECT_EQ(
        host.Lines(),
        (std::vector<TRecordingHost::TLine>{{TLogKind::Error, "Error[-127] - Unknown ERROR"}}));
}

TEST(SetErrorReplyTest, KeepsOtherMembersAndLogsWhateverTheViewOptions) {
    TRecordingHost host;
    host.Error = true;
    Json::Value reply;
    reply["data"]["0"] = 258;
    reply["status"] = "ok";
    reply["error_code"] = 0;
    SetErrorReply(reply, 102, host);
    EXPECT_EQ(reply["data"]["0"], 258);
    EXPECT_EQ(reply["status"], "error");
    EXPECT_EQ(reply["error_code"], 102);
    EXPECT_EQ(reply.size(), 4u);
    EXPECT_EQ(host.Count(TLogKind::Error, "Error[102] - " + ErrorText(102)), 1u);
    EXPECT_EQ(host.Lines().size(), 1u);
}

}  // namespace
