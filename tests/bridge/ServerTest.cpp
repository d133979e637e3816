// The server front end in this process, on loopback: racing requests, disconnects and stops,
// with the simulated slave behind the link. The same cases run against Qt's sockets (Linux, also
// under ThreadSanitizer) and against Winsock under wine.
#include <chrono>
#include <memory>
#include <random>

#include "AccessCheck.h"
#include "DemoPages.h"
#include "RequestErrors.h"
#include "ServerFixture.h"

namespace {

// What a second server on a taken port says: the text users know, with the system's words
// (on Windows in the system's language; wine has none, and the bridge its own).
#ifdef _WIN32
const std::string kAddressInUseNumber = "10048";
// Wine loses the news of connections that several threads of the server's own process open at
// once, and the server then waits for them in vain; a browser is another process.
constexpr bool kRacingClientsInProcess = false;
#else
const std::string kAddressInUseNumber = "98";
constexpr bool kRacingClientsInProcess = true;
#endif

TEST_F(ServerTest, RacingRequestsDisconnectsAndStopsLeaveNothingLockedAndNoStrayReply) {
    if (!kRacingClientsInProcess) {
        GTEST_SKIP() << "racing clients in the server's own process lose their connections "
                        "under wine";
    }
    ASSERT_TRUE(Start({"--delay", "3"}));
    constexpr int kClients = 3;
    constexpr int kRounds = 40;
    std::atomic<int> finished{0};
    std::atomic<int> unanswered{0};
    std::atomic<int> malformed{0};
    std::atomic<int> surplus{0};
    std::vector<std::thread> clients;
    for (int index = 0; index < kClients; ++index) {
        clients.emplace_back([&, index] {
            std::mt19937 random(static_cast<unsigned>(index + 1));
            for (int round = 0; round < kRounds; ++round) {
                THttpClient client;
                if (!client.Connect(Port)) {
                    ++malformed;
                    continue;
                }
                switch (random() % 4) {
                    case 0:
                    case 1: {
                        // Waits for its reply; a refused request gets none.
                        client.Send(ReadRequest(300, round));
                        const auto response = client.ReadResponse(1500);
                        if (!response) {
                            ++unanswered;
                        } else if (!WellFormed(*response)) {
                            ++malformed;
                        } else if (!client.StaysSilent(5)) {
                            ++surplus;
                        }
                        break;
                    }
                    case 2:
                        // Leaves while its request may be served: the worker must stop.
                        client.Send(ReadRequest(300, round));
                        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 10));
                        break;
                    default: {
                        client.Send("GET / HTTP/1.1\r\n\r\n");
                        const auto response = client.ReadResponse(1500);
                        if (!response) {
                            ++unanswered;
                        } else if (!WellFormed(*response)) {
                            ++malformed;
                        }
                        break;
                    }
                }
            }
            ++finished;
        });
    }
    EXPECT_TRUE(RunUntil([&] { return finished == kClients; }, 60000));
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(malformed, 0);
    EXPECT_EQ(surplus, 0);
    // Every request that waited in vain was refused with the busy lines.
    EXPECT_LE(unanswered, static_cast<int>(Host.Count(TLogKind::Error, kBusyLine)));

    EXPECT_TRUE(RunUntil([&] { return !Server.Busy(); }));
    EXPECT_FALSE(Link.IsOpen());
    THttpClient last;
    ASSERT_TRUE(last.Connect(Port));
    const auto response = Ask(last, ReadRequest(300, 9));
    ASSERT_TRUE(response);
    EXPECT_NE(response->find("\"data\":{\"9\":9}"), std::string::npos) << *response;
}

TEST_F(ServerTest, ShutdownStopsARunningRequestWithoutAReply) {
    ASSERT_TRUE(Start({"--silent"}));
    THttpClient client;
    ASSERT_TRUE(client.Connect(Port));
    ASSERT_TRUE(client.Send(ReadRequest(60000)));
    ASSERT_TRUE(RunUntil([&] { return SentLineLogged(); }));
    EXPECT_TRUE(Server.Busy());

    Server.Shutdown();
    EXPECT_FALSE(Server.Busy());
    EXPECT_FALSE(Link.IsOpen());
    RunUntil([] { return false; }, 100);
    EXPECT_TRUE(client.StaysSilent(100));
    for (const auto& line : Host.Lines()) {
        EXPECT_NE(line.Kind, TLogKind::Error) << line.Text;
    }
}

// A refused request is answered on the server's thread without a worker: the busy mark is never
// taken, the port never opened. The Host port is the one the server listens on, and refusal lines
// beyond ten a second end in a count when the second is over.
TEST_F(ServerTest, RefusalsNeedNoWorkerAndTheirLinesAreLimited) {
    ASSERT_TRUE(Start({}));
    ASSERT_NE(Port, 19284) << "the server was to listen on a port of the system's choice";
    std::string refused = ReadRequest(300);
    const std::string ownHost = "Host: localhost:" + std::to_string(Port);
    refused.replace(refused.find(ownHost), ownHost.size(), "Host: localhost:19284");
    THttpClient client;
    ASSERT_TRUE(client.Connect(Port));
    constexpr int kRefused = 12;
    for (int round = 0; round < kRefused; ++round) {
        const auto response = Ask(client, refused);
        ASSERT_TRUE(response);
        EXPECT_NE(response->find("\"error_code\":125"), std::string::npos) << *response;
        EXPECT_FALSE(Server.Busy());
    }
    EXPECT_FALSE(SentLineLogged());
    EXPECT_TRUE(Link.PortName.empty());
    const std::string countLine = "Отклонено ещё запросов без строки в журнале: 2";
    ASSERT_TRUE(RunUntil([&] { return Host.Count(TLogKind::Error, countLine) == 1; }, 5000));
    size_t refusalLines = 0;
    for (const auto& line : Host.Lines()) {
        if (line.Text.starts_with("Error[125]")) {
            ++refusalLines;
        }
    }
    EXPECT_EQ(refusalLines, 10U);

    const auto served = Ask(client, ReadRequest(300, 5));
    ASSERT_TRUE(served);
    EXPECT_NE(served->find("\"data\":{\"5\":5}"), std::string::npos) << *served;
}

TEST_F(ServerTest, PromptNextRequestOnTheSameConnectionIsServed) {
    ASSERT_TRUE(Start({}));
    THttpClient client;
    ASSERT_TRUE(client.Connect(Port));
    for (int round = 0; round < 20; ++round) {
        const auto response = Ask(client, ReadRequest(300, round));
        ASSERT_TRUE(response) << "round " << round;
        EXPECT_NE(response->find("\"status\":\"ok\""), std::string::npos);
    }
    EXPECT_EQ(Host.Count(TLogKind::Error, kBusyLine), 0U);
}

TEST_F(ServerTest, ARequestWhoseThreadCannotBeCreatedStaysWithItsConnection) {
    ASSERT_TRUE(Start({}));
    THttpClient client;
    ASSERT_TRUE(client.Connect(Port));
    FailThreads = true;
    ASSERT_TRUE(client.Send(ReadRequest(300, 5)));
    ASSERT_TRUE(RunUntil([&] { return Host.Count(TLogKind::Error, kThreadFault) == 1; }));
    EXPECT_FALSE(Server.Busy());
    EXPECT_FALSE(SentLineLogged());
    EXPECT_TRUE(client.StaysSilent(100));

    // The next data on that connection brings the first request along, and it is served.
    FailThreads = false;
    const auto response = Ask(client, ReadRequest(300, 9));
    ASSERT_TRUE(response);
    const std::string body = ResponseBody(*response);
    EXPECT_NE(body.find(R"("pdu":{"a":[3,0,5,0,1]})"), std::string::npos) << body;
    EXPECT_NE(body.find(R"("data":{"5":5})"), std::string::npos) << body;
    EXPECT_EQ(Host.Count(TLogKind::Error, kThreadFault), 1U);
}

TEST_F(ServerTest, AFaultBeyondTheRequestsOwnReplyIsReportedAndStillAnswered) {
    ASSERT_TRUE(Start({}));
    std::vector<std::string> reports;
    Server.ReportFault = [&reports](const std::string& text) { reports.push_back(text); };
    THttpClient client;
    ASSERT_TRUE(client.Connect(Port));
    // A request without its form field: the worker's error reply logs an error line, which throws.
    Host.ThrowOnError = true;
    const std::string withoutField = "POST / HTTP/1.1\r\nHost: localhost:" + std::to_string(Port) +
                                     "\r\nContent-Length: 5\r\n\r\nabc=1";
    const auto answered = Ask(client, withoutField);
    ASSERT_TRUE(answered);
    EXPECT_TRUE(WellFormed(*answered)) << *answered;
    EXPECT_NE(ResponseBody(*answered).find(R"("error_code":-1,)"), std::string::npos) << *answered;
    ASSERT_TRUE(RunUntil([&] { return !reports.empty(); }));
    EXPECT_EQ(reports, std::vector<std::string>{"host fault"});
    EXPECT_FALSE(Server.Busy());
    EXPECT_FALSE(Link.IsOpen());

    THttpClient next;
    ASSERT_TRUE(next.Connect(Port));
    const auto response = Ask(next, ReadRequest(300, 7));
    ASSERT_TRUE(response);
    EXPECT_NE(ResponseBody(*response).find(R"("data":{"7":7})"), std::string::npos);
    EXPECT_EQ(reports.size(), 1U);
}

TEST_F(ServerTest, SecondServerOnTheSamePortNamesTheFailingCall) {
    ASSERT_TRUE(Start({}));
    TRavo32 otherLink;
    TRecordingHost otherHost;
    TBridgeServer other(otherLink, otherHost);
    std::string error;
    ASSERT_FALSE(other.Open(static_cast<uint16_t>(Port), error));
    const std::string start = "Windows socket error: ";
    const std::string end = " (" + kAddressInUseNumber + "), on API 'bind'";
    EXPECT_TRUE(error.starts_with(start) && error.ends_with(end) &&
                error.size() > start.size() + end.size())
        << error;
}

TEST_F(ServerTest, IdleConnectionsBeyondTheLimitGiveWayToANewRequest) {
    ASSERT_TRUE(Start({}));
    constexpr size_t kLimit = TServerCore::kMaxConnections;
    // One after the other, each taken before the next comes: the count is exact at every step.
    // (Under wine, a burst of connections from another thread of the server's own process
    // loses the news of some of them; a browser is another process.)
    std::vector<std::unique_ptr<THttpClient>> idle;
    for (size_t index = 0; index < kLimit + 60; ++index) {
        idle.push_back(std::make_unique<THttpClient>());
        ASSERT_TRUE(idle.back()->Connect(Port));
        ASSERT_TRUE(RunUntil([&] {
            return Server.ConnectionCount() == std::min(index + 1, kLimit);
        })) << "connection "
            << index << ", the server holds " << Server.ConnectionCount();
    }
    // The oldest were closed: the first clients read the end of their streams (Qt lets go of a
    // socket from its event loop).
    RunUntil([] { return false; }, 50);
    EXPECT_TRUE(idle.front()->ClosedByServer(1000));
    EXPECT_TRUE(idle[59]->ClosedByServer(1000));
    EXPECT_FALSE(idle[60]->ClosedByServer(0));
    EXPECT_FALSE(idle.back()->ClosedByServer(0));

    THttpClient client;
    ASSERT_TRUE(client.Connect(Port));
    const auto response = Ask(client, ReadRequest(300, 3));
    ASSERT_TRUE(response);
    EXPECT_NE(response->find("\"data\":{\"3\":3}"), std::string::npos) << *response;
}

TEST_F(ServerTest, AbandonedRequestsInARowLeaveTheNextOneServed) {
    ASSERT_TRUE(Start({"--silent"}));
    // Each round: a request to a silent device, one more while it is served, both clients gone
    // before the server has noticed, and at once the next request, which only a free server
    // answers. Each connection is taken before the next comes (under wine, a burst of connections
    // from the server's own process loses the news of some of them).
    for (int round = 0; round < 30; ++round) {
        {
            THttpClient served;
            ASSERT_TRUE(served.Connect(Port) && served.Send(ReadRequest(2000)));
            ASSERT_TRUE(RunUntil([&] { return Server.Busy(); })) << "round " << round;
            THttpClient waiting;
            ASSERT_TRUE(waiting.Connect(Port) && waiting.Send(ReadRequest(2000)));
            ASSERT_TRUE(RunUntil([&] { return Server.ConnectionCount() == 2; }))
                << "round " << round;
        }
        THttpClient next;
        ASSERT_TRUE(next.Connect(Port));
        const auto response = Ask(next, "GET / HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(response) << "round " << round;
        EXPECT_NE(response->find("\"error_code\":103"), std::string::npos) << *response;
    }
}

// A GET of the bridge's page never touches the line: it is answered while a request is served,
// after the Host check, without the busy lines. Anything else that comes then, also on the
// served connection, stays unread with the two busy lines.
TEST_F(ServerTest, ThePageIsAnsweredWhileARequestIsServedAndNothingElseIs) {
    ASSERT_TRUE(Start({"--silent"}));
    THttpClient served;
    ASSERT_TRUE(served.Connect(Port));
    ASSERT_TRUE(served.Send(ReadRequest(60000)));
    ASSERT_TRUE(RunUntil([&] { return SentLineLogged(); }));
    const std::string host = "Host: localhost:" + std::to_string(Port) + "\r\n";
    const std::string page = "GET /demo/ HTTP/1.1\r\n" + host + "\r\n";
    const std::string script = "GET /demo/demo.js HTTP/1.1\r\n" + host;
    const std::string foreignHost =
        "GET /demo/ HTTP/1.1\r\nHost: evil.example:" + std::to_string(Port) + "\r\n\r\n";
    struct TRow {
        const char* Name;
        std::vector<std::string> Pieces;
        // None: the request stays unread and unanswered.
        std::optional<std::string> Response;
        bool Page = false;
    };
    const TRow rows[] = {
        {"the page", {page}, AnswerDemoPage(page).Response, true},
        {"a file of the page in two pieces",
         {script, "\r\n"},
         AnswerDemoPage(script).Response,
         true},
        {"the page with a foreign Host",
         {foreignHost},
         AccessRefusedResponse(ErrorCode::AccessRefused)},
        {"the root", {"GET / HTTP/1.1\r\n" + host + "\r\n"}, std::nullopt},
        {"a POST", {ReadRequest(300)}, std::nullopt},
    };
    size_t unanswered = 0;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        THttpClient client;
        ASSERT_TRUE(client.Connect(Port));
        const std::optional<std::string> response =
            Exchange(client, row.Pieces, row.Response ? 5000 : 300, row.Page);
        EXPECT_TRUE(response == row.Response) << response.value_or("no response");
        unanswered += row.Response ? 0U : 1U;
        EXPECT_EQ(Host.Count(TLogKind::Error, kBusyLine), unanswered);
        EXPECT_TRUE(Server.Busy());
    }
    EXPECT_FALSE(Exchange(served, {page}, 300).has_value());
    EXPECT_EQ(Host.Count(TLogKind::Error, kBusyLine), unanswered + 1);
    EXPECT_EQ(Host.Count(TLogKind::Error,
                         "Error[125] - Запрос отклонён настройками доступа моста: Host не называет "
                         "этот компьютер (адрес 127.0.0.1, Host: evil.example:" +
                             std::to_string(Port) + ", Origin: -)"),
              1U);
    Server.Shutdown();
}

}  // namespace

int main(int argc, char* argv[]) {
    const TTestEventLoop eventLoop(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
