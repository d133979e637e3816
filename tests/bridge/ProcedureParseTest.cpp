// The request procedure on requests that never reach the port: parsing and parameter failures.
#include <gtest/gtest.h>
#include <json/value.h>

#include <string>

#include "HttpFraming.h"
#include "Ravo32.h"
#include "RecordingHost.h"
#include "RequestErrors.h"
#include "RequestProcedure.h"

namespace {

const std::string kValid =
    R"({"company_id":1,"device_id":2,"slave_addr":1,"baud_rate":19200,"com_port":0,)"
    R"("poll_ms":1000,"timeout_ms":500,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,)"
    R"("ctrl_invert":false,"rand_string":"x","pdu":{"a":[3,0,0,0,1]}})";

struct TOutcome {
    Json::Value Reply;
    TRecordingHost Host;
};

void RunProcedure(const std::string& json, TOutcome& outcome) {
    TRavo32 link;
    EXPECT_EQ(RunRequestProcedure(json, outcome.Reply, link, outcome.Host),
              TProcedureEnd::Completed);
    EXPECT_FALSE(link.IsOpen());
}

TEST(ProcedureParseTest, TextsThatAreNoRequestObjectGive107) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string deepObject = "{\"a\":" + deep + "}";
    for (const std::string& json :
         {std::string("[1,2]"), std::string("\"text\""), std::string("12"), std::string(""),
          std::string("// note\n{\"a\":1}"), std::string("{'a':1}"), std::string("{\"a\":1,}"),
          deep, deepObject}) {
        TOutcome outcome;
        RunProcedure(json, outcome);
        EXPECT_EQ(outcome.Reply["error_code"], ErrorCode::JsonParse) << json.substr(0, 40);
        EXPECT_EQ(outcome.Reply["status"], "error");
        EXPECT_EQ(outcome.Host.Count(TLogKind::Error, "Error[107] - " + ErrorText(107)), 1U);
    }
}

TEST(ProcedureParseTest, NestingBeyondTheReaderLeavesOnlyTheStatusMembers) {
    // What the reader holds when it gives up is deeper than a page could read back.
    TOutcome outcome;
    RunProcedure("{\"rand_string\":\"x\",\"a\":" + std::string(5000, '['), outcome);
    EXPECT_EQ(outcome.Reply.getMemberNames(),
              (std::vector<std::string>{"error_code", "error_text", "status"}));
}

TEST(ProcedureParseTest, ArrayRootLeavesOnlyTheStatusMembers) {
    TOutcome outcome;
    RunProcedure("[1,2,3]", outcome);
    EXPECT_EQ(SerializeReply(outcome.Reply),
              R"({"error_code":107,"error_text":")" + ErrorText(107) + R"(","status":"error"})");
}

TEST(ProcedureParseTest, MembersReadBeforeAParseErrorStay) {
    TOutcome outcome;
    RunProcedure(R"({"rand_string":"kept","company_id":1,"pdu":)", outcome);
    EXPECT_EQ(outcome.Reply["rand_string"], "kept");
    EXPECT_EQ(outcome.Reply["company_id"], 1);
    EXPECT_EQ(outcome.Reply["error_code"], ErrorCode::JsonParse);
}

TEST(ProcedureParseTest, FormFieldsAfterTheObjectAreIgnored) {
    TOutcome outcome;
    RunProcedure(kValid + "&page=demo&x=1", outcome);
    // Parsed and checked; port 0 cannot open.
    EXPECT_EQ(outcome.Reply["error_code"], ErrorCode::PortOpen);
}

TEST(ProcedureParseTest, ParameterFailuresKeepTheRequestAndAddNoMember) {
    std::string json = kValid;
    json.replace(json.find("\"timeout_ms\":500"), 16, "\"timeout_ms\":1e2");
    TOutcome outcome;
    RunProcedure(json, outcome);
    EXPECT_EQ(outcome.Reply["error_code"], ErrorCode::MissingTimeoutMs);
    EXPECT_EQ(outcome.Reply["pdu"]["a"][0], 3);
    EXPECT_EQ(outcome.Reply.size(), 16U);  // 13 parameters and the three status members

    std::string badPdu = kValid;
    badPdu.replace(badPdu.find("[3,0,0,0,1]"), 11, "[3,0,\"0\",0,1]");
    TOutcome pduOutcome;
    RunProcedure(badPdu, pduOutcome);
    EXPECT_EQ(pduOutcome.Reply["error_code"], ErrorCode::MissingPdu);
}

}  // namespace
