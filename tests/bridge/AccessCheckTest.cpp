// Who may drive the devices: the header reading, the Host, fetch-metadata, Origin and key
// verdicts, the port policy, the settings and the limit of refusal lines, byte for byte.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AccessCheck.h"
#include "AccessSettings.h"
#include "HttpFraming.h"
#include "HttpHeaders.h"
#include "IniFile.h"
#include "PortPolicy.h"
#include "Ravo32.h"
#include "RecordingHost.h"
#include "RefusalLimiter.h"
#include "RequestErrors.h"
#include "RequestProcedure.h"

namespace {

const TLocalNames kLocal{19284, "Plant-PC", {"127.0.0.1", "::1", "192.168.1.20", "fe80::1"}};

THttpRequest Request(const std::string& headers, const std::string& body = "json_data=%7B%7D") {
    return ParseHttpRequest("POST / HTTP/1.1\r\n" + headers +
                            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

Json::Value ParseJson(const std::string& text) {
    Json::Value value;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    reader->parse(text.data(), text.data() + text.size(), &value, nullptr);
    return value;
}

TEST(HeaderValuesTest, NamesIgnoreCaseAndOnlyTheHeaderBlockCounts) {
    const std::string received =
        "POST /Host: first-line HTTP/1.1\r\nhost:  a.example \r\nX-Host: b\r\nHOST:\tc\r\n"
        "Host : spaced\r\nNoColon\r\n\r\nHost: in-the-body\r\n";
    EXPECT_EQ(HeaderValues(ParseHttpRequest(received).HeaderBlock(), "Host"),
              (std::vector<std::string_view>{"a.example", "c"}));
    EXPECT_TRUE(HeaderValues(ParseHttpRequest("POST / HTTP/1.1").HeaderBlock(), "Host").empty());
    EXPECT_EQ(
        HeaderValues(ParseHttpRequest("POST / HTTP/1.1\r\nOrigin: null").HeaderBlock(), "origin"),
        (std::vector<std::string_view>{"null"}));
}

TEST(FormFieldTest, OnlyFieldsBeforeJsonDataCount) {
    struct TRow {
        std::string Body;
        bool Found;
        std::string Value;
    };
    const TRow rows[] = {
        {"key=abc&json_data=%7B%7D", true, "abc"},
        {"a=1&key=%41b&key=second&json_data=x", true, "%41b"},
        {"key=&json_data=x", true, ""},
        {"json_data=x&key=abc", false, ""},
        {"json_data={\"key=abc\"}", false, ""},
        {"keys=abc&json_data=x", false, ""},
        {"key&json_data=x", false, ""},
        {"", false, ""},
    };
    for (const TRow& row : rows) {
        const TFormField field = FormFieldBeforeJsonData(row.Body, "key");
        EXPECT_EQ(field.Found, row.Found) << row.Body;
        EXPECT_EQ(std::string(field.Value), row.Value) << row.Body;
    }
}

TEST(HostAllowedTest, OnlyNamesOfThisMachineOnItsPort) {
    struct TRow {
        const char* Host;
        bool Loopback;
        bool Any;
    };
    const TRow rows[] = {
        {"localhost", true, true},
        {"localhost:19284", true, true},
        {"LocalHost:19284", true, true},
        {"127.0.0.1:19284", true, true},
        {"127.0.0.1", true, true},
        {"[::1]:19284", true, true},
        {"[::1]", true, true},
        {"plant-pc:19284", true, true},
        {"scada.local:19284", true, true},
        // Another port, or a port that is not plainly written.
        {"localhost:80", false, false},
        {"localhost:019284", false, false},
        {"localhost:", false, false},
        {"localhost:19284x", false, false},
        {"localhost:+19284", false, false},
        {"[::1]:8080", false, false},
        {"[::1]x", false, false},
        // Look-alikes and other spellings of loopback.
        {"localhost.evil.example", false, false},
        {"127.0.0.1.nip.io", false, false},
        {"localhost6", false, false},
        {"localhost.localdomain", false, false},
        {"localhost.", false, false},
        {"0x7f.1", false, false},
        {"017700000001", false, false},
        {"127.1", false, false},
        {"127.000.0.1", false, false},
        {"2130706433", false, false},
        {"[0:0:0:0:0:0:0:1]", false, false},
        {"[::ffff:127.0.0.1]", false, false},
        {"[::1", false, false},
        {"::1", false, false},
        {"", false, false},
        {"evil.example:19284", false, false},
        // This machine's interfaces, only when it listens on them.
        {"192.168.1.20:19284", false, true},
        {"[fe80::1]:19284", false, true},
        {"[FE80::1]:19284", false, true},
        {"192.168.1.21", false, false},
        {"192.168.001.20", false, false},
    };
    TAccessSettings loopback;
    loopback.AllowedHosts = {"scada.local"};
    TAccessSettings any = loopback;
    any.Listen = TListenScope::Any;
    for (const TRow& row : rows) {
        EXPECT_EQ(HostAllowed(row.Host, loopback, kLocal), row.Loopback) << row.Host;
        EXPECT_EQ(HostAllowed(row.Host, any, kLocal), row.Any) << row.Host;
    }
    EXPECT_TRUE(HostAllowed("localhost:8080", loopback, TLocalNames{8080, "", {}}));
    EXPECT_FALSE(HostAllowed("localhost:19284", loopback, TLocalNames{8080, "", {}}));
}

TEST(CheckAccessTest, EachCheckInItsOrder) {
    struct TRow {
        const char* Name;
        std::string Headers;
        std::string Body;
        std::function<void(TAccessSettings&)> Configure;
        TRefusal Expected;
    };
    const auto nothing = [](TAccessSettings&) {};
    // An origin mode over decisions the operator took.
    const auto origins = [](TOriginMode mode, std::map<std::string, bool> decisions) {
        return [mode, decisions](TAccessSettings& settings) {
            settings.Origins = mode;
            settings.OriginDecisions = decisions;
        };
    };
    const std::map<std::string, bool> listed = {{"https://scada.example", true},
                                                {"https://old.example", false}};
    std::map<std::string, bool> listedWithNull = listed;
    listedWithNull["null"] = true;
    // The operator refused the bridge's own page: it is served all the same.
    std::map<std::string, bool> ownPageRefused = listed;
    ownPageRefused["http://localhost:19284"] = false;
    const auto list = origins(TOriginMode::List, listed);
    const auto listWithNull = origins(TOriginMode::List, listedWithNull);
    const auto ask = origins(TOriginMode::Ask, listed);
    const auto askWithNull = origins(TOriginMode::Ask, listedWithNull);
    const auto any = origins(TOriginMode::Any, {});
    const auto anyWithNull = origins(TOriginMode::Any, listedWithNull);
    const auto anyWithRefused = origins(TOriginMode::Any, listed);
    const auto ownRefused = origins(TOriginMode::Ask, ownPageRefused);
    const auto key = [](TAccessSettings& settings) { settings.Key = "s3cret key+1"; };
    const std::string json = "json_data=%7B%7D";
    const TRow rows[] = {
        {"old client without Host", "", json, nothing, TRefusal::None},
        {"the bridge's own page",
         "Host: localhost:19284\r\nOrigin: http://localhost:19284\r\nSec-Fetch-Mode: cors\r\n",
         json, nothing, TRefusal::None},
        {"same-origin fetch", "Host: 127.0.0.1:19284\r\nSec-Fetch-Mode: same-origin\r\n", json,
         nothing, TRefusal::None},
        {"two Host headers", "Host: localhost\r\nHost: localhost\r\n", json, nothing,
         TRefusal::HostRepeated},
        {"DNS rebinding", "Host: rebind.evil.example:19284\r\nSec-Fetch-Mode: cors\r\n", json,
         nothing, TRefusal::HostNotAllowed},
        {"form that loads a page", "Host: 127.0.0.1:19284\r\nSec-Fetch-Mode: navigate\r\n", json,
         nothing, TRefusal::Navigation},
        {"form into a frame", "Sec-Fetch-Mode: nested-navigate\r\n", json, nothing,
         TRefusal::Navigation},
        {"no-cors fetch", "Sec-Fetch-Mode: no-cors\r\n", json, nothing, TRefusal::Navigation},
        {"upper-case mode", "Sec-Fetch-Mode: CORS\r\n", json, nothing, TRefusal::Navigation},
        {"empty mode", "Sec-Fetch-Mode:\r\n", json, nothing, TRefusal::Navigation},
        {"Host comes before navigation", "Host: evil.example\r\nSec-Fetch-Mode: navigate\r\n", json,
         nothing, TRefusal::HostNotAllowed},
        {"no origin by default", "Origin: https://evil.example\r\n", json, nothing,
         TRefusal::OriginUnlisted},
        {"any origin with Origins=any", "Origin: https://evil.example\r\n", json, any,
         TRefusal::None},
        {"null with Origins=any", "Origin: null\r\n", json, any, TRefusal::OriginUnlisted},
        {"null=1 with Origins=any", "Origin: null\r\n", json, anyWithNull, TRefusal::None},
        {"an origin listed =0 with Origins=any", "Origin: https://old.example\r\n", json,
         anyWithRefused, TRefusal::None},
        {"own page by another loopback name", "Origin: http://127.0.0.1:19284\r\n", json, ask,
         TRefusal::None},
        {"own page over IPv6", "Origin: http://[::1]:19284\r\n", json, list, TRefusal::None},
        {"own page by the host name", "Origin: http://plant-pc:19284\r\n", json, list,
         TRefusal::None},
        {"own page by a name of AllowedHosts", "Origin: http://scada.local:19284\r\n", json, list,
         TRefusal::None},
        {"own page refused by the operator", "Origin: http://localhost:19284\r\n", json, ownRefused,
         TRefusal::None},
        {"own page names over https", "Origin: https://localhost:19284\r\n", json, ask,
         TRefusal::OriginUnanswered},
        {"own page names without the port", "Origin: http://localhost\r\n", json, list,
         TRefusal::OriginUnlisted},
        {"own page names on another port", "Origin: http://localhost:8080\r\n", json, list,
         TRefusal::OriginUnlisted},
        {"own port with an empty name", "Origin: http://:19284\r\n", json, list,
         TRefusal::OriginUnlisted},
        {"own port after a look-alike", "Origin: http://localhost.evil.example:19284\r\n", json,
         list, TRefusal::OriginUnlisted},
        {"own port with a path", "Origin: http://localhost:19284/\r\n", json, list,
         TRefusal::OriginUnlisted},
        {"own port over IPv6 without brackets", "Origin: http://::1:19284\r\n", json, list,
         TRefusal::OriginUnlisted},
        {"listed origin", "Origin: https://scada.example\r\n", json, list, TRefusal::None},
        {"listed origin in other case", "Origin: HTTPS://SCADA.example\r\n", json, list,
         TRefusal::None},
        {"origin listed as refused", "Origin: https://old.example\r\n", json, list,
         TRefusal::OriginNotAllowed},
        {"unlisted origin", "Origin: https://evil.example\r\n", json, list,
         TRefusal::OriginUnlisted},
        {"origin that differs by port", "Origin: https://scada.example:8443\r\n", json, list,
         TRefusal::OriginUnlisted},
        {"no Origin with a list", "", json, list, TRefusal::None},
        {"file page without null=1", "Origin: null\r\n", json, list, TRefusal::OriginUnlisted},
        {"file page with null=1", "Origin: null\r\n", json, listWithNull, TRefusal::None},
        {"null is never asked about", "Origin: null\r\n", json, ask, TRefusal::OriginUnlisted},
        {"null=1 written by hand with Origins=ask", "Origin: null\r\n", json, askWithNull,
         TRefusal::None},
        {"what no browser sends is never asked about", "Origin: HTTPS://New.example\r\n", json, ask,
         TRefusal::OriginUnlisted},
        {"two Origin headers", "Origin: https://scada.example\r\nOrigin: https://scada.example\r\n",
         json, list, TRefusal::OriginRepeated},
        {"unanswered origin", "Origin: https://new.example\r\n", json, ask,
         TRefusal::OriginUnanswered},
        {"answered origin", "Origin: https://scada.example\r\n", json, ask, TRefusal::None},
        {"key as a page sends it", "", "key=s3cret%20key%2B1&" + json, key, TRefusal::None},
        {"key among other fields", "", "a=1&key=s3cret%20key%2B1&b=2&" + json, key, TRefusal::None},
        {"no key", "", json, key, TRefusal::KeyMissing},
        {"key after json_data", "", json + "&key=s3cret%20key%2B1", key, TRefusal::KeyMissing},
        {"wrong key", "", "key=s3cret%20key%2B2&" + json, key, TRefusal::KeyWrong},
        {"key cut short", "", "key=s3cret&" + json, key, TRefusal::KeyWrong},
        {"key too long", "", "key=s3cret%20key%2B11&" + json, key, TRefusal::KeyWrong},
        {"empty key", "", "key=&" + json, key, TRefusal::KeyWrong},
        {"key past a zero byte", "", std::string("a=1\0&key=s3cret%20key%2B1&", 27) + json, key,
         TRefusal::KeyMissing},
        {"navigation comes before the key", "Sec-Fetch-Mode: navigate\r\n",
         "key=s3cret%20key%2B1&" + json, key, TRefusal::Navigation},
    };
    for (const TRow& row : rows) {
        TAccessSettings settings;
        settings.AllowedHosts = {"scada.local"};
        row.Configure(settings);
        EXPECT_EQ(CheckAccess(Request(row.Headers, row.Body), settings, kLocal).Refusal,
                  row.Expected)
            << row.Name;
    }
}

TEST(CheckAccessTest, RefusalLineNamesReasonPeerHostAndOriginWithoutControlCharacters) {
    const TAccessVerdict verdict = CheckAccess(
        Request("Host: evil.example\x01\x1b[31m\r\nOrigin: https://evil.example\r\n"), {}, kLocal);
    EXPECT_EQ(RefusalLine(ErrorCode::AccessRefused, RefusalReason(verdict.Refusal), "::1", verdict),
              "Error[125] - Запрос отклонён настройками доступа моста: Host не называет этот "
              "компьютер (адрес ::1, Host: evil.example??[31m, Origin: https://evil.example)");
    const TAccessVerdict bare = CheckAccess(Request(""), {}, kLocal);
    EXPECT_EQ(
        RefusalLine(ErrorCode::PortRefused, "COM2 только для чтения, функция 6", "127.0.0.1", bare),
        "Error[126] - Порт или функция запрещены настройками моста: COM2 только для чтения, "
        "функция 6 (адрес 127.0.0.1, Host: -, Origin: -)");
    const std::string shown = ShownRequestText(std::string(98, 'a') + "яяя");
    EXPECT_EQ(shown, std::string(98, 'a') + "я...");
}

// The gate's own answers, to refusals and to requests without sound framing.
TEST(CheckAccessTest, TheRefusalIsTheUsualHeaderBlockWithThreeMembers) {
    const std::pair<uint8_t, std::string> refusals[] = {
        {ErrorCode::NoJsonData, "Не найдены JSON данные"},
        {ErrorCode::AccessRefused, "Запрос отклонён настройками доступа моста"},
        {ErrorCode::AccessAwaitingOperator, "Страница ждёт разрешения оператора в окне моста"},
    };
    for (const auto& [code, text] : refusals) {
        const std::string body = R"({"error_code":)" + std::to_string(code) + R"(,"error_text":")" +
                                 text + R"(","status":"error"})";
        EXPECT_EQ(ErrorStatusResponse(code),
                  "HTTP/1.1 200 OK\r\nServer: RAVO Duridur Vextrona-KT\r\n"
                  "Content-Type: application/json; charset=utf-8\r\nContent-Length: " +
                      std::to_string(body.size()) +
                      "\r\nAccess-Control-Request-Method: GET, POST\r\n"
                      "Access-Control-Allow-Origin: *\r\nConnection: keep-alive\r\n\r\n" +
                      body + "\r\n");
    }
}

// Every setting that lets any web site in says so at start-up, in one error line.
TEST(AccessRisksTest, AnyOriginAndNullOneEachGiveTheirLine) {
    const std::string anySite =
        "Настройка Origins=any: любой сайт, открытый в браузере на этом компьютере, может "
        "управлять устройствами через мост";
    const std::string sandboxed =
        "Настройка null=1 в разделе Origins: любой сайт, открытый в браузере на этом компьютере, "
        "может управлять устройствами через мост из изолированного фрейма (sandbox), который "
        "посылает Origin: null";
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"", {}},
        {"[Server]\nOrigins=list\n[Origins]\nhttps://scada.example=1\nnull=0\n", {}},
        {"[Origins]\nnull=1\n", {sandboxed}},
        {"[Server]\nOrigins=list\n[Origins]\nNULL=1\n", {sandboxed}},
        {"[Server]\nOrigins=any\n", {anySite}},
        {"[Server]\nOrigins=any\n[Origins]\nnull=1\n", {anySite, sandboxed}},
    };
    for (const auto& [text, lines] : rows) {
        TIniFile file;
        file.LoadText(text);
        EXPECT_EQ(AccessRisks(ReadAccessSettings(file)), lines) << text;
    }
}

TEST(KeysMatchTest, EqualOnlyForTheSameBytes) {
    EXPECT_TRUE(KeysMatch("abc", "abc"));
    EXPECT_TRUE(KeysMatch("", ""));
    for (const std::string other : {"abd", "ab", "abcd", "", "ABC", "xbc"}) {
        EXPECT_FALSE(KeysMatch("abc", other)) << other;
    }
    EXPECT_FALSE(KeysMatch("abc", std::string("abc\0", 4)));
    EXPECT_FALSE(KeysMatch("", "a"));
}

TEST(PlausibleOriginTest, OnlyWhatBrowsersSendAndNeverNull) {
    for (const char* origin :
         {"https://scada.example", "http://127.0.0.2:28001", "http://[::1]:8080"}) {
        EXPECT_TRUE(PlausibleOrigin(origin)) << origin;
    }
    for (const char* origin : {"null", "", "https://", "ftp://a", "https://A.example",
                               "https://a.example/path", "https://a=b", "https://a b"}) {
        EXPECT_FALSE(PlausibleOrigin(origin)) << origin;
    }
}

TEST(PortPolicyTest, UnmappedAndReadOnlyPortsOnTheReducedNumber) {
    TPortPolicy policy;
    policy.Mapped.set(1);
    policy.Mapped.set(2);
    policy.ReadOnly.set(2);
    policy.ReadOnly.set(5);
    TPortPolicy denying = policy;
    denying.DenyUnmapped = true;
    struct TRow {
        int ComPort;
        const char* Pdu;
        bool RefusedByDefault;
        bool RefusedWhenDenying;
    };
    const TRow rows[] = {
        {1, R"({"a":[6,0,1,0,42]})", false, false},
        {257, R"({"a":[6,0,1,0,42]})", false, false},
        {3, R"({"a":[3,0,0,0,1]})", false, true},
        {0, R"({"a":[3,0,0,0,1]})", false, true},
        {2, R"({"a":[3,0,0,0,1],"b":[4,0,0,0,1],"c":[1,0,0,0,8],"d":[2,0,0,0,8]})", false, false},
        {2, R"({"a":[20,7,6,0,6,0,0,0,16],"b":[67,0],"c":[69,0,0]})", false, false},
        {258, R"({"a":[3,0,0,0,1]})", false, false},
        {2, R"({"a":[3,0,0,0,1],"b":[6,0,1,0,42]})", true, true},
        {258, R"({"a":[6,0,1,0,42]})", true, true},
        {2, R"({"a":[16,0,1,0,1,2,0,42]})", true, true},
        {2, R"({"a":[259,0,0,0,1]})", false, false},
        {2, R"({"a":{"x":6,"y":0}})", true, true},
        {2, R"({"a":5})", true, true},
        {2, R"({"a":[]})", true, true},
        {5, R"({"a":[5,0,1,255,0]})", true, true},
    };
    for (const TRow& row : rows) {
        const auto port = static_cast<uint8_t>(row.ComPort);
        const Json::Value pdu = ParseJson(row.Pdu);
        EXPECT_EQ(!PortPolicyRefusal(port, pdu, policy).empty(), row.RefusedByDefault)
            << row.ComPort << " " << row.Pdu;
        EXPECT_EQ(!PortPolicyRefusal(port, pdu, denying).empty(), row.RefusedWhenDenying)
            << row.ComPort << " " << row.Pdu;
    }
    EXPECT_EQ(PortPolicyRefusal(2, ParseJson(R"({"a":[3,0,0,0,1],"b":[6,0,1,0,42]})"), policy),
              "COM2 только для чтения, функция 6");
    EXPECT_EQ(PortPolicyRefusal(3, ParseJson(R"({"a":[3]})"), denying), "COM3 нет в разделе Ports");
}

TEST(PortPolicyTest, TheProcedureRefusesBeforeItOpensThePort) {
    TRavo32 link;
    link.MapPort(2, "/dev/null");
    TRecordingHost host;
    TProcedureOptions options;
    options.Ports.ReadOnly.set(2);
    Json::Value reply;
    const std::string json =
        R"({"company_id":1,"device_id":2,"slave_addr":1,"baud_rate":19200,"com_port":258,)"
        R"("poll_ms":1000,"timeout_ms":500,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,)"
        R"("ctrl_invert":false,"rand_string":"x","pdu":{"a":[3,0,0,0,1],"b":[6,0,1,0,42]}})";
    EXPECT_EQ(RunRequestProcedure(json, reply, link, host, options), TProcedureEnd::Completed);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(link.PortName.empty());
    EXPECT_EQ(reply["error_code"], ErrorCode::PortRefused);
    EXPECT_EQ(reply["status"], "error");
    EXPECT_EQ(reply["rand_string"], "x");
    EXPECT_EQ(host.Lines(), (std::vector<TRecordingHost::TLine>{
                                {TLogKind::Error,
                                 "Error[126] - Порт или функция запрещены настройками моста: "
                                 "COM2 только для чтения, функция 6"}}));

    std::vector<std::string> told;
    options.PortRefused = [&told](const std::string& reason) { told.push_back(reason); };
    TRecordingHost quiet;
    Json::Value second;
    RunRequestProcedure(json, second, link, quiet, options);
    EXPECT_EQ(told, std::vector<std::string>{"COM2 только для чтения, функция 6"});
    EXPECT_TRUE(quiet.Lines().empty());
}

TEST(ReadAccessSettingsTest, DefaultsServeThisComputerAndOddValuesTakeTheSafeSide) {
    TIniFile empty;
    const TAccessSettings defaults = ReadAccessSettings(empty);
    EXPECT_EQ(defaults.Listen, TListenScope::Loopback);
    EXPECT_EQ(defaults.Origins, TOriginMode::Ask);
    EXPECT_TRUE(defaults.Key.empty());
    EXPECT_FALSE(defaults.Ports.DenyUnmapped);
    EXPECT_TRUE(defaults.Ports.ReadOnly.none());
    EXPECT_TRUE(defaults.Problems.empty());

    TIniFile file;
    file.LoadText(
        "[Server]\nListen=Any\nAllowedHosts=SCADA.local, plant-pc ,,\nOrigins=list\n"
        "Key=s3cret key+1\nUnmappedPorts=deny\nReadOnlyPorts=COM2, com5,COM300,2\n"
        "[Origins]\nhttps://Scada.example=1\nnull=1\nhttps://old.example=0\nhttps://x.example=yes\n"
        "[Ports]\nCOM1=/dev/ttyUSB0\nCOM4=\n");
    const TAccessSettings read = ReadAccessSettings(file);
    EXPECT_EQ(read.Listen, TListenScope::Any);
    EXPECT_EQ(read.AllowedHosts, (std::vector<std::string>{"scada.local", "plant-pc"}));
    EXPECT_EQ(read.Origins, TOriginMode::List);
    EXPECT_EQ(read.OriginDecisions, (std::map<std::string, bool>{{"https://scada.example", true},
                                                                 {"null", true},
                                                                 {"https://old.example", false},
                                                                 {"https://x.example", false}}));
    EXPECT_EQ(read.Key, "s3cret key+1");
    EXPECT_TRUE(read.Ports.DenyUnmapped);
    EXPECT_TRUE(read.Ports.Mapped.test(1));
    EXPECT_EQ(read.Ports.Mapped.count(), 1U);
    EXPECT_TRUE(read.Ports.ReadOnly.test(2));
    EXPECT_TRUE(read.Ports.ReadOnly.test(5));
    EXPECT_EQ(read.Ports.ReadOnly.count(), 2U);
    EXPECT_EQ(read.Problems.size(), 3U);

    TIniFile odd;
    odd.LoadText("[Server]\nListen=everywhere\nOrigins=some\nUnmappedPorts=maybe\n");
    const TAccessSettings safe = ReadAccessSettings(odd);
    EXPECT_EQ(safe.Listen, TListenScope::Loopback);
    EXPECT_EQ(safe.Origins, TOriginMode::List);
    EXPECT_TRUE(safe.Ports.DenyUnmapped);
    EXPECT_EQ(safe.Problems,
              (std::vector<std::string>{
                  "Настройка Listen=everywhere не понята, принято Listen=loopback",
                  "Настройка Origins=some не понята, принято Origins=list",
                  "Настройка UnmappedPorts=maybe не понята, принято UnmappedPorts=deny"}));
}

// The settings examples of the user guide's access section, in the order it prints them.
std::vector<std::string> GuideSettingsExamples() {
    std::ifstream file(USER_GUIDE_PATH);
    std::stringstream text;
    text << file.rdbuf();
    const std::string guide = text.str();
    const size_t section = guide.find("\n## Access: who may drive the devices");
    const size_t end = guide.find("\n## ", section + 1);
    std::vector<std::string> examples;
    for (size_t at = guide.find("```ini\n", section); at < end;
         at = guide.find("```ini\n", at + 1)) {
        const size_t start = at + 7;
        examples.push_back(guide.substr(start, guide.find("```", start) - start));
    }
    return examples;
}

TEST(ReadAccessSettingsTest, TheUserGuidesExamplesMeanWhatItSays) {
    const std::vector<std::string> examples = GuideSettingsExamples();
    ASSERT_EQ(examples.size(), 4U);
    std::vector<TAccessSettings> read;
    for (const std::string& example : examples) {
        TIniFile file;
        file.LoadText(example);
        read.push_back(ReadAccessSettings(file));
        EXPECT_TRUE(read.back().Problems.empty()) << example;
        EXPECT_TRUE(AccessRisks(read.back()).empty()) << example;
    }
    // The listed sites, in the window (which asks about the others) and in modbus-bridged.
    EXPECT_EQ(read[0].Origins, TOriginMode::Ask);
    TAccessSettings headless = read[0];
    headless.Origins = TOriginMode::List;
    struct TRow {
        std::string Origin;
        TRefusal Window;
        TRefusal Bridged;
    };
    const TRow rows[] = {
        {"https://scada.example", TRefusal::None, TRefusal::None},
        {"https://old.example", TRefusal::OriginNotAllowed, TRefusal::OriginNotAllowed},
        {"https://new.example", TRefusal::OriginUnanswered, TRefusal::OriginUnlisted},
        {"null", TRefusal::OriginUnlisted, TRefusal::OriginUnlisted},
        {"http://localhost:19284", TRefusal::None, TRefusal::None},
    };
    for (const TRow& row : rows) {
        const THttpRequest received = Request("Origin: " + row.Origin + "\r\n");
        EXPECT_EQ(CheckAccess(received, read[0], kLocal).Refusal, row.Window) << row.Origin;
        EXPECT_EQ(CheckAccess(received, headless, kLocal).Refusal, row.Bridged) << row.Origin;
    }

    EXPECT_EQ(read[1].Listen, TListenScope::Any);
    EXPECT_TRUE(HostAllowed("plant-pc.local:19284", read[1], kLocal));
    EXPECT_FALSE(read[1].Key.empty());

    EXPECT_EQ(read[2].Origins, TOriginMode::List);
    EXPECT_EQ(CheckAccess(Request("Origin: https://new.example\r\n"), read[2], kLocal).Refusal,
              TRefusal::OriginUnlisted);

    const TPortPolicy& ports = read[3].Ports;
    EXPECT_TRUE(ports.DenyUnmapped);
    EXPECT_TRUE(PortPolicyRefusal(1, ParseJson(R"({"a":[6,0,1,0,42]})"), ports).empty());
    EXPECT_FALSE(PortPolicyRefusal(2, ParseJson(R"({"a":[6,0,1,0,42]})"), ports).empty());
    EXPECT_TRUE(PortPolicyRefusal(2, ParseJson(R"({"a":[3,0,1,0,1]})"), ports).empty());
    EXPECT_FALSE(PortPolicyRefusal(3, ParseJson(R"({"a":[3,0,1,0,1]})"), ports).empty());
}

TEST(RefusalLimiterTest, TenLinesASecondThenOneCount) {
    TRefusalLimiter limiter;
    int lines = 0;
    for (uint64_t index = 0; index < 25; ++index) {
        const TRefusalLimiter::TTurn turn = limiter.Note(5000 + index * 10);
        EXPECT_EQ(turn.UnloggedBefore, 0U);
        lines += turn.WriteLine ? 1 : 0;
    }
    EXPECT_EQ(lines, 10);
    EXPECT_EQ(limiter.FlushDue(), std::optional<uint64_t>(6000));
    EXPECT_EQ(limiter.Flush(5999), 0U);
    EXPECT_EQ(limiter.Flush(6000), 15U);
    EXPECT_EQ(limiter.Flush(6001), 0U);
    EXPECT_FALSE(limiter.FlushDue().has_value());

    // Without a flush, the count of the ended window comes with the next refusal.
    for (uint64_t index = 0; index < 12; ++index) {
        limiter.Note(7000 + index);
    }
    const TRefusalLimiter::TTurn next = limiter.Note(8000);
    EXPECT_EQ(next.UnloggedBefore, 2U);
    EXPECT_TRUE(next.WriteLine);
    EXPECT_FALSE(limiter.FlushDue().has_value());
    EXPECT_EQ(UnloggedRefusalsLine(15), "Отклонено ещё запросов без строки в журнале: 15");
}

}  // namespace
