// The request procedure over a real pseudo-terminal against the simulated slave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "ErrorText.h"
#include "HttpClient.h"
#include "HttpFraming.h"
#include "Ravo32.h"
#include "RecordingHost.h"
#include "RequestProcedure.h"
#include "RequestWorker.h"
#include "SpawnedProgram.h"
#include "UriCodec.h"

namespace {

constexpr int kComPort = 7;

Json::Value Bytes(std::initializer_list<int> values) {
    Json::Value array(Json::arrayValue);
    for (int value : values) {
        array.append(value);
    }
    return array;
}

// A request a page would send to the simulator's default slave.
Json::Value BaseRequest(Json::Value pdu) {
    Json::Value request(Json::objectValue);
    request["company_id"] = 1;
    request["device_id"] = 2;
    request["slave_addr"] = 1;
    request["baud_rate"] = 19200;
    request["com_port"] = kComPort;
    request["poll_ms"] = 1000;
    request["timeout_ms"] = 500;
    request["ctrl_echo"] = false;
    request["ctrl_dtr"] = false;
    request["ctrl_rts"] = false;
    request["ctrl_invert"] = false;
    request["rand_string"] = "проверка";
    request["pdu"] = std::move(pdu);
    return request;
}

// A host with one call that throws: a fault of the program around the request road.
class TFaultyHost : public TRecordingHost {
public:
    enum class TCall { Send, Receive, Status };

    TFaultyHost(TCall call, bool standard) : Call(call), Standard(standard) {}

    void LogSend(std::string text) override {
        Fault(TCall::Send);
        TRecordingHost::LogSend(std::move(text));
    }
    void LogReceive(std::string text) override {
        Fault(TCall::Receive);
        TRecordingHost::LogReceive(std::move(text));
    }
    void ShowLinkStatus(uint8_t comPort, uint8_t slave, uint16_t deviceType,
                        int32_t baud) override {
        Fault(TCall::Status);
        TRecordingHost::ShowLinkStatus(comPort, slave, deviceType, baud);
    }

private:
    void Fault(TCall call) const {
        if (call != Call) {
            return;
        }
        if (Standard) {
            throw std::runtime_error("no room left for the line");
        }
        throw 42;
    }

    TCall Call;
    bool Standard;
};

Json::Value ResponseJson(const std::string& response) {
    const std::string body = ResponseBody(response);
    Json::Value value;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(body.data(), body.data() + body.size(), &value, nullptr)) << body;
    return value;
}

class ProcedureOnSimulatorTest : public ::testing::Test {
protected:
    bool StartSim(const std::vector<std::string>& options) {
        if (!Sim.Start(options)) {
            return false;
        }
        Link.MapPort(kComPort, Sim.Port);
        return true;
    }

    Json::Value Run(const Json::Value& request) {
        Json::Value reply;
        const TProcedureEnd end = RunRequestProcedure(SerializeReply(request), reply, Link, Host);
        EXPECT_EQ(end, TProcedureEnd::Completed);
        Link.Disconnect();
        return reply;
    }

    TRunningSim Sim;
    TRavo32 Link;
    TRecordingHost Host;
};

TEST_F(ProcedureOnSimulatorTest, ReadsRegistersIntoDataAndEchoesTheRequest) {
    ASSERT_TRUE(StartSim({}));
    const Json::Value request = BaseRequest([] {
        Json::Value pdu;
        pdu["read"] = Bytes({3, 0x00, 0x10, 0x00, 0x02});
        return pdu;
    }());
    const Json::Value reply = Run(request);

    EXPECT_EQ(reply["status"], "ok");
    EXPECT_EQ(reply["error_code"], 0);
    EXPECT_EQ(reply["error_text"], "");
    EXPECT_EQ(reply["data"]["16"], 16);
    EXPECT_EQ(reply["data"]["17"], 17);
    EXPECT_EQ(reply["data"].size(), 2U);
    for (const std::string& name : request.getMemberNames()) {
        EXPECT_EQ(reply[name], request[name]) << name;
    }
}

TEST_F(ProcedureOnSimulatorTest, ServeRequestClosesThePortBeforeItAnswers) {
    ASSERT_TRUE(StartSim({}));
    Json::Value pdu;
    pdu["a"] = Bytes({3, 0, 0, 0, 1});
    const std::string body = "json_data=" + UriEncode(SerializeReply(BaseRequest(pdu)));
    const std::string received = "POST / HTTP/1.1\r\nHost: x\r\n\r\n" + body;

    const auto response = ServeRequest(ParseHttpRequest(received), Link, Host);
    ASSERT_TRUE(response.has_value());
    EXPECT_NE(response->find("\"status\":\"ok\""), std::string::npos) << *response;
    EXPECT_FALSE(Link.IsOpen());
    // Another program can take the port at once.
    TComp32 other;
    other.MapPort(1, Sim.Port);
    EXPECT_TRUE(other.Open(1, 19200));
}

// The host hears of each request as it starts and how it ended, with the reply's own code and
// text (the window's tray icon shows them): served, a device's exception, a framing error, and a
// request stopped before its answer, which gets no reply and so no result.
TEST_F(ProcedureOnSimulatorTest, ServeRequestTellsItsHostHowEachRequestEnded) {
    ASSERT_TRUE(StartSim({}));
    const auto post = [](const Json::Value& pdu) {
        return "POST / HTTP/1.1\r\nHost: x\r\n\r\njson_data=" +
               UriEncode(SerializeReply(BaseRequest(pdu)));
    };
    Json::Value read;
    read["a"] = Bytes({3, 0, 0, 0, 1});
    Json::Value beyond;
    beyond["a"] = Bytes({3, 0x90, 0x00, 0x00, 0x01});
    const struct {
        const char* Name;
        std::string Received;
        bool Stop;
        std::string Ended;
    } rows[] = {
        {"served", post(read), false, "ended 0 "},
        {"exception", post(beyond), false, "ended 2 " + ErrorText(2)},
        {"no form field", "POST / HTTP/1.1\r\nHost: x\r\n\r\nother=1", false,
         "ended 106 " + ErrorText(106)},
        {"stopped", post(read), true, "stopped"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        Host.Clear();
        if (row.Stop) {
            Link.RequestStop();
        }
        const std::optional<std::string> response =
            ServeRequest(ParseHttpRequest(row.Received), Link, Host);
        Link.ResetStop();
        EXPECT_EQ(response.has_value(), !row.Stop);
        EXPECT_EQ(Host.Progress(), (std::vector<std::string>{"begun", row.Ended}));
    }
}

TEST_F(ProcedureOnSimulatorTest, LaterPduWinsAndMembersGoInByteOrderOfTheirNames) {
    ASSERT_TRUE(StartSim({}));
    Json::Value pdu;
    // "10" sorts before "9": the write happens first, so the read sees its value.
    pdu["9"] = Bytes({3, 0x00, 0x30, 0x00, 0x02});
    pdu["10"] = Bytes({6, 0x00, 0x31, 0xBE, 0xEF});
    pdu["8"] = Bytes({3, 0x00, 0x30, 0x00, 0x01});
    const Json::Value reply = Run(BaseRequest(pdu));

    EXPECT_EQ(reply["status"], "ok");
    EXPECT_EQ(reply["data"]["48"], 0x30);
    EXPECT_EQ(reply["data"]["49"], 0xBEEF);
    std::vector<std::string> sent;
    for (const auto& line : Host.Lines()) {
        if (line.Kind == TLogKind::Send) {
            sent.push_back(line.Text);
        }
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"WRITE_SINGLE_REGISTER", "READ_HOLDING_REGISTER",
                                              "READ_HOLDING_REGISTER"}));
}

TEST_F(ProcedureOnSimulatorTest, ExceptionAnswerGivesItsCodeAndKeepsEarlierData) {
    ASSERT_TRUE(StartSim({}));
    Json::Value pdu;
    pdu["a"] = Bytes({3, 0x00, 0x00, 0x00, 0x01});
    pdu["b"] = Bytes({3, 0x90, 0x00, 0x00, 0x01});  // beyond the bank: exception 2
    pdu["c"] = Bytes({6, 0x00, 0x40, 0x00, 0x09});  // never sent
    const Json::Value reply = Run(BaseRequest(pdu));

    EXPECT_EQ(reply["status"], "error");
    EXPECT_EQ(reply["error_code"], 2);
    EXPECT_EQ(reply["error_text"], ErrorText(2));
    EXPECT_EQ(reply["data"]["0"], 0);
    EXPECT_EQ(Host.Count(TLogKind::Error, "Error[2] - " + ErrorText(2)), 1U);
    EXPECT_EQ(Host.Lines().back(), (TRecordingHost::TLine{TLogKind::Info, std::string(48, '-')}));

    Json::Value check;
    check["a"] = Bytes({3, 0x00, 0x40, 0x00, 0x01});
    EXPECT_EQ(Run(BaseRequest(check))["data"]["64"], 0x40);
}

TEST_F(ProcedureOnSimulatorTest, LineFaultsGiveTheLinkCodes) {
    struct TCase {
        std::vector<std::string> Options;
        bool Echo;
        int Code;
    };
    const TCase cases[] = {
        {{"--echo"}, true, ErrorCode::None},
        {{"--noise", "60"}, false, ErrorCode::None},
        {{"--pieces", "4", "--gap", "5"}, false, ErrorCode::None},
        {{"--silent"}, false, ErrorCode::AnswerTimeout},
        {{"--wrong-address"}, false, ErrorCode::AnswerTimeout},
        {{"--bad-crc"}, false, ErrorCode::AnswerTimeout},
        {{"--exception", "6"}, false, 6},
    };
    for (const TCase& fault : cases) {
        SCOPED_TRACE(fault.Options.front());
        TRunningSim sim;
        ASSERT_TRUE(sim.Start(fault.Options));
        Link.MapPort(kComPort, sim.Port);
        Json::Value pdu;
        pdu["a"] = Bytes({4, 0x00, 0x05, 0x00, 0x01});
        Json::Value request = BaseRequest(pdu);
        request["ctrl_echo"] = fault.Echo;
        const Json::Value reply = Run(request);
        EXPECT_EQ(reply["error_code"], fault.Code);
        if (fault.Code == ErrorCode::None) {
            EXPECT_EQ(reply["data"]["5"], 0x1005);
        }
    }
}

TEST_F(ProcedureOnSimulatorTest, ShortTimeoutIsRaisedTo250Milliseconds) {
    ASSERT_TRUE(StartSim({"--silent"}));
    Json::Value pdu;
    pdu["a"] = Bytes({3, 0, 0, 0, 1});
    Json::Value request = BaseRequest(pdu);
    request["timeout_ms"] = 20;
    const auto start = std::chrono::steady_clock::now();
    const Json::Value reply = Run(request);
    const auto waited = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(reply["error_code"], ErrorCode::AnswerTimeout);
    EXPECT_GE(waited, std::chrono::milliseconds(245));
}

TEST_F(ProcedureOnSimulatorTest, TimeoutZeroSendsTheFirstPduOnlyAndAwaitsNothing) {
    ASSERT_TRUE(StartSim({"--verbose"}));
    Json::Value pdu;
    pdu["a"] = Bytes({6, 0x00, 0x50, 0x00, 0x01});
    pdu["b"] = Bytes({6, 0x00, 0x51, 0x00, 0x02});
    Json::Value request = BaseRequest(pdu);
    request["timeout_ms"] = 0;
    const Json::Value reply = Run(request);

    EXPECT_EQ(reply["status"], "ok");
    EXPECT_FALSE(reply.isMember("data"));
    ASSERT_TRUE(Sim.Process.WaitForLine("rx 0106005000", 2000));

    Json::Value read;
    read["a"] = Bytes({3, 0x00, 0x50, 0x00, 0x02});
    request = BaseRequest(read);
    const Json::Value after = Run(request);
    EXPECT_EQ(after["data"]["80"], 1);
    EXPECT_EQ(after["data"]["81"], 0x51);
}

TEST_F(ProcedureOnSimulatorTest, FileRecordsAndDeviceSection) {
    ASSERT_TRUE(StartSim({"--device-type", "0x0003"}));
    Json::Value pdu;
    // Holding registers 0x1002-0x1003 through file 1, then event record 4 of file 6.
    pdu["a"] = Bytes({20, 14, 6, 0, 1, 0, 2, 0, 2, 6, 0, 6, 0, 4, 0, 16});
    pdu["b"] = Bytes({69});
    const Json::Value reply = Run(BaseRequest(pdu));

    ASSERT_EQ(reply["status"], "ok") << reply.toStyledString();
    EXPECT_EQ(reply["data"]["4098"], 0x1002);
    EXPECT_EQ(reply["data"]["4099"], 0x1003);
    const Json::Value& event = reply["events_log"]["4"];
    ASSERT_EQ(event.size(), 32U);
    EXPECT_EQ(event[0], 4);
    EXPECT_EQ(event[1], 1 + 4 % 7);
    EXPECT_EQ(event[31], (4 + 31) & 0xFF);
    EXPECT_EQ(reply["data"]["1"], 0x0003);
    EXPECT_EQ(Host.StatusCalls(),
              (std::vector<TRecordingHost::TStatus>{{kComPort, 1, 0x0003, 19200}}));
}

// A terminal held by another program: its flock, or its exclusive use (TIOCEXCL).
struct THeldPort {
    THeldPort(const std::string& path, bool exclusive) {
        Fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        Held = Fd >= 0 && (exclusive ? ioctl(Fd, TIOCEXCL) : flock(Fd, LOCK_EX | LOCK_NB)) == 0;
    }
    ~THeldPort() {
        if (Fd >= 0) {
            close(Fd);
        }
    }
    int Fd = -1;
    bool Held = false;
};

// The reply keeps the table's text; the line after the 122 error line names the device a COM
// number stands for and why it did not open, so the operator knows what to mend.
TEST_F(ProcedureOnSimulatorTest, PortThatCannotOpenGives122AndALineThatSaysWhich) {
    ASSERT_TRUE(StartSim({}));
    char plainName[] = "/tmp/procedure-plain-XXXXXX";
    const int plain = mkstemp(plainName);
    ASSERT_GE(plain, 0);
    close(plain);
    struct TCase {
        std::string Name;
        int ComPort;
        std::string Path;
        int Baud;
        bool HeldElsewhere;
        std::string Cause;
    };
    const std::string missing = "/dev/does-not-exist-for-modbus";
    const std::vector<TCase> cases = {
        {"a number without a device", 0, "", 19200, false, "у этого номера нет устройства"},
        {"a missing device", 3, missing, 19200, false,
         "нет такого устройства (адаптер не подключён или путь в [Ports] неверен) (open: No such "
         "file or directory)"},
        {"a plain file", 4, plainName, 19200, false,
         "это не последовательный порт (TIOCEXCL: Inappropriate ioctl for device)"},
        {"a device held by another program", kComPort, Sim.Port, 19200, true,
         "занят другой программой (flock: Resource temporarily unavailable)"},
        {"a speed no driver takes", kComPort, Sim.Port, -1, false,
         "драйвер не принимает скорость (-1 baud)"},
    };
    for (const TCase& row : cases) {
        SCOPED_TRACE(row.Name);
        if (!row.Path.empty()) {
            Link.MapPort(static_cast<uint8_t>(row.ComPort), row.Path);
        }
        std::optional<THeldPort> holder;
        if (row.HeldElsewhere) {
            ASSERT_TRUE(holder.emplace(Sim.Port, false).Held);
        }
        Json::Value pdu;
        pdu["a"] = Bytes({3, 0, 0, 0, 1});
        Json::Value request = BaseRequest(pdu);
        request["com_port"] = row.ComPort;
        request["baud_rate"] = row.Baud;
        Host.Clear();
        const Json::Value reply = Run(request);

        EXPECT_EQ(reply["error_code"], ErrorCode::PortOpen);
        EXPECT_EQ(reply["error_text"], ErrorText(ErrorCode::PortOpen));
        const std::string device =
            "COM" + std::to_string(row.ComPort) + (row.Path.empty() ? "" : " (" + row.Path + ")");
        EXPECT_EQ(Host.Lines(), (std::vector<TRecordingHost::TLine>{
                                    {TLogKind::Error, "Error[122] - " + ErrorText(122)},
                                    {TLogKind::Error, device + " не открыт: " + row.Cause}}));
    }
    unlink(plainName);

    // Exclusive use (TIOCEXCL) keeps out every program but root's, which only the flock stops.
    if (geteuid() != 0) {
        const THeldPort exclusive(Sim.Port, true);
        ASSERT_TRUE(exclusive.Held);
        Json::Value pdu;
        pdu["a"] = Bytes({3, 0, 0, 0, 1});
        Host.Clear();
        EXPECT_EQ(Run(BaseRequest(pdu))["error_code"], ErrorCode::PortOpen);
        EXPECT_EQ(Host.Lines().back().Text, "COM" + std::to_string(kComPort) + " (" + Sim.Port +
                                                ") не открыт: занят другой программой (open: "
                                                "Device or resource busy)");
    }
}

TEST_F(ProcedureOnSimulatorTest, ViewOptionsDecideTheLines) {
    ASSERT_TRUE(StartSim({"--address", "2"}));
    Json::Value pdu;
    pdu["a"] = Bytes({3, 0x00, 0x01, 0x00, 0x01});
    Json::Value request = BaseRequest(pdu);
    request["slave_addr"] = 2;
    request["com_port"] = 256 + kComPort;  // the low 8 bits name the port

    Host.Set = true;
    Host.Hex = true;
    Run(request);
    const std::vector<TRecordingHost::TLine> expected = {
        {TLogKind::Info,
         "Адрес: 2, Скорость: 19200 бод, Порт: COM7, Частота: 1000 мс, Таймаут: 500 мс, ECHO: 0, "
         "DTR: 0, RTS: 0, Инвертирование: 0"},
        {TLogKind::Send, "READ_HOLDING_REGISTER 020300010001D5F9"},
        {TLogKind::Receive, "READ_HOLDING_REGISTER 02030200013D84"},
        {TLogKind::Info, std::string(48, '-')},
    };
    EXPECT_EQ(Host.Lines(), expected);

    Host.Clear();
    Host.Error = true;
    request["pdu"]["a"] = Bytes({3, 0x00, 0x01, 0x00, 0x00});  // quantity 0: exception 3
    Run(request);
    EXPECT_EQ(
        Host.Lines(),
        (std::vector<TRecordingHost::TLine>{{TLogKind::Error, "Error[3] - " + ErrorText(3)}}));
}

// A device's exception code is its own. From 125 on the bridge has added codes of its own
// (access, port policy); a device cannot mean those, so it reads as any unknown exception does.
TEST_F(ProcedureOnSimulatorTest, ExceptionCodesAmongTheBridgesLaterCodesReadAsUnknown) {
    struct TCase {
        int Exception;
        int Code;
        std::string Text;
    };
    const TCase cases[] = {
        {4, 4, ErrorText(4)},
        // The codes every page has long known keep their texts, from a device too.
        {124, 124, ErrorText(124)},
        {125, 125, "Unknown ERROR"},
        {126, 126, "Unknown ERROR"},
        {127, 127, "Unknown ERROR"},
        {255, -1, "Unknown ERROR"},
    };
    for (const TCase& device : cases) {
        SCOPED_TRACE(device.Exception);
        TRunningSim sim;
        ASSERT_TRUE(sim.Start({"--exception", std::to_string(device.Exception)}));
        Link.MapPort(kComPort, sim.Port);
        Host.Clear();
        Json::Value pdu;
        pdu["a"] = Bytes({3, 0x00, 0x01, 0x00, 0x01});
        const Json::Value reply = Run(BaseRequest(pdu));
        EXPECT_EQ(reply["error_code"], device.Code);
        EXPECT_EQ(reply["error_text"], device.Text);
        EXPECT_EQ(Host.Count(TLogKind::Error,
                             "Error[" + std::to_string(device.Code) + "] - " + device.Text),
                  1U);
    }
}

// An exception from a host call inside the procedure is a fault of the bridge, not of the JSON:
// the request is answered with -1, the line says what happened, and the port is closed.
TEST_F(ProcedureOnSimulatorTest, AHostCallThatThrowsIsAnsweredAsTheBridgesInternalFault) {
    ASSERT_TRUE(StartSim({}));
    struct TCase {
        TFaultyHost::TCall Call;
        bool Standard;
        std::string Line;
    };
    const std::string fault = "Error[-1] - Внутренняя ошибка моста: ";
    const TCase cases[] = {
        {TFaultyHost::TCall::Send, true, fault + "no room left for the line"},
        {TFaultyHost::TCall::Receive, true, fault + "no room left for the line"},
        {TFaultyHost::TCall::Status, false, fault + "исключение без описания"},
    };
    for (const TCase& host : cases) {
        SCOPED_TRACE(host.Line + " " + std::to_string(static_cast<int>(host.Call)));
        TFaultyHost faulty(host.Call, host.Standard);
        Json::Value pdu;
        pdu["a"] = Bytes({3, 0x00, 0x01, 0x00, 0x01});
        pdu["b"] = Bytes({69});
        const std::string received = "POST / HTTP/1.1\r\nHost: x\r\n\r\njson_data=" +
                                     UriEncode(SerializeReply(BaseRequest(pdu)));
        std::optional<std::string> response;
        try {
            response = ServeRequest(ParseHttpRequest(received), Link, faulty);
        } catch (...) {
            ADD_FAILURE() << "the exception left the request road";
        }
        ASSERT_TRUE(response.has_value());
        const Json::Value reply = ResponseJson(*response);
        EXPECT_EQ(reply["status"], "error");
        EXPECT_EQ(reply["error_code"], -1);
        EXPECT_EQ(reply["error_text"], "Внутренняя ошибка моста");
        EXPECT_EQ(reply["rand_string"], "проверка");
        EXPECT_EQ(faulty.Count(TLogKind::Error, host.Line), 1U);
        EXPECT_FALSE(Link.IsOpen());
    }
}

}  // namespace
