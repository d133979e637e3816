// The server front end in this process, on loopback: racing requests, disconnects and stops,
// with the simulated slave behind the link. Built also with ThreadSanitizer.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "AccessCheck.h"
#include "BridgeServer.h"
#include "DemoPages.h"
#include "HttpClient.h"
#include "Ravo32.h"
#include "RecordingHost.h"
#include "RequestErrors.h"
#include "SpawnedProgram.h"

namespace {

constexpr uint8_t kComPort = 1;
const std::string kBusyLine = "Предыдущая команда не обработана ...";
const std::string kThreadFault = "FAULT! Создание потока ...";

// Runs this thread's event loop until the condition holds or the bound passes.
bool RunUntil(const std::function<bool()>& condition, int boundMs = 10000) {
    QEventLoop loop;
    QTimer check;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition() || std::chrono::steady_clock::now() > deadline) {
            loop.quit();
        }
    });
    check.start(2);
    if (!condition()) {
        loop.exec();
    }
    return condition();
}

// A response as the server frames it: status line, Content-Length that fits, a JSON object.
bool WellFormed(const std::string& response) {
    const std::string body = ResponseBody(response);
    return response.starts_with("HTTP/1.1 200 OK\r\n") && response.ends_with("\r\n") &&
           response.find("Content-Length: " + std::to_string(body.size()) + "\r\n") !=
               std::string::npos &&
           body.starts_with("{") && body.ends_with("}");
}

// A host whose next error line, once armed, throws instead of being written: an exception on the
// worker's road where nothing expects one.
class TThrowingHost : public TRecordingHost {
public:
    void LogError(std::string text) override {
        if (ThrowOnError.exchange(false)) {
            throw std::runtime_error("host fault");
        }
        TRecordingHost::LogError(std::move(text));
    }

    std::atomic<bool> ThrowOnError{false};
};

class ServerTest : public ::testing::Test {
protected:
    bool Start(const std::vector<std::string>& simOptions) {
        if (!Sim.Start(simOptions)) {
            return false;
        }
        Link.MapPort(kComPort, Sim.Port);
        std::string error;
        if (!Server.Open(0, error)) {
            ADD_FAILURE() << error;
            return false;
        }
        Port = Server.ListeningPort();
        return true;
    }

    std::string ReadRequest(int timeoutMs, int registerAddress = 0) const {
        return PostRequest(
            R"({"company_id":1,"device_id":2,"slave_addr":1,"baud_rate":115200,"com_port":1,)"
            R"("poll_ms":100,"timeout_ms":)" +
                std::to_string(timeoutMs) +
                R"(,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,"ctrl_invert":false,)"
                R"("rand_string":"r","pdu":{"a":[3,0,)" +
                std::to_string(registerAddress) + R"(,0,1]}})",
            Port);
    }

    // Sends the request and serves it; the response, or none within the bound.
    std::optional<std::string> Ask(THttpClient& client, const std::string& request) {
        std::optional<std::string> response;
        std::thread asker([&] {
            if (client.Send(request)) {
                response = client.ReadResponse(5000);
            }
        });
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            asker.join();
            done = true;
        });
        RunUntil([&] { return done.load(); });
        watcher.join();
        return response;
    }

    // Sends the pieces one after another, each after the server stayed silent for a moment, and
    // waits for the response while the server runs; none when it stays silent within boundMs.
    std::optional<std::string> Exchange(THttpClient& client, const std::vector<std::string>& pieces,
                                        int boundMs, bool page = false) {
        std::optional<std::string> response;
        std::atomic<bool> done{false};
        std::thread asker([&] {
            bool early = false;
            for (size_t index = 0; index < pieces.size() && !early; ++index) {
                early = index > 0 && !client.StaysSilent(200);
                client.Send(pieces[index]);
            }
            response = early  ? std::optional<std::string>("answered before the request ended")
                       : page ? client.ReadPageResponse(boundMs)
                              : client.ReadResponse(boundMs);
            done = true;
        });
        RunUntil([&] { return done.load(); });
        asker.join();
        return response;
    }

    bool SentLineLogged() const {
        for (const auto& line : Host.Lines()) {
            if (line.Kind == TLogKind::Send) {
                return true;
            }
        }
        return false;
    }

    TRunningSim Sim;
    TRavo32 Link;
    TThrowingHost Host;
    // While set, the system has no thread to give the server.
    std::atomic<bool> FailThreads{false};
    TBridgeServer Server{Link, Host, nullptr, [this](std::function<void()> task) {
                             if (FailThreads) {
                                 throw std::system_error(std::make_error_code(
                                     std::errc::resource_unavailable_try_again));
                             }
                             return std::thread(std::move(task));
                         }};
    int Port = 0;
};

TEST_F(ServerTest, RacingRequestsDisconnectsAndStopsLeaveNothingLockedAndNoStrayReply) {
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
    EXPECT_EQ(error, "Windows socket error: Address already in use (98), on API 'bind'");
}

TEST_F(ServerTest, IdleConnectionsBeyondTheLimitGiveWayToANewRequest) {
    ASSERT_TRUE(Start({}));
    std::vector<std::unique_ptr<THttpClient>> idle;
    std::atomic<int> connected{0};
    std::thread opener([&] {
        for (size_t index = 0; index < TBridgeServer::kMaxConnections + 60; ++index) {
            idle.push_back(std::make_unique<THttpClient>());
            if (idle.back()->Connect(Port)) {
                ++connected;
            }
        }
    });
    RunUntil([&] {
        return connected == static_cast<int>(TBridgeServer::kMaxConnections + 60) &&
               Server.ConnectionCount() >= TBridgeServer::kMaxConnections;
    });
    opener.join();
    RunUntil([] { return false; }, 50);
    EXPECT_LE(Server.ConnectionCount(), TBridgeServer::kMaxConnections);
    // The oldest were closed: the first client reads the end of its stream.
    EXPECT_TRUE(idle.front()->ClosedByServer(1000));
    EXPECT_FALSE(idle.back()->ClosedByServer(0));

    THttpClient client;
    ASSERT_TRUE(client.Connect(Port));
    const auto response = Ask(client, ReadRequest(300, 3));
    ASSERT_TRUE(response);
    EXPECT_NE(response->find("\"data\":{\"3\":3}"), std::string::npos) << *response;
}

TEST_F(ServerTest, RunningOutOfDescriptorsDoesNotLeaveTheServerDeaf) {
#ifdef MODBUS_BRIDGE_SANITIZED
    GTEST_SKIP() << "the sanitizers' runtime itself needs descriptors while the limit is tight";
#endif
    ASSERT_TRUE(Start({}));
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
    size_t open = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        static_cast<void>(entry);
        ++open;
    }
    rlimit tight = original;
    tight.rlim_cur = open + 40;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);

    // Clients and server share the process's descriptors: the clients connect through the
    // listening queue alone, then the server's accepts run out. No thread is started while the
    // limit is tight: the sanitizers' own bookkeeping needs descriptors too.
    std::vector<std::unique_ptr<THttpClient>> idle;
    for (int index = 0; index < 60; ++index) {
        auto client = std::make_unique<THttpClient>();
        if (client->Connect(Port)) {
            idle.push_back(std::move(client));
        }
    }
    RunUntil([] { return false; }, 300);
    idle.erase(idle.begin(), idle.begin() + std::min<ptrdiff_t>(10, std::ssize(idle)));
    RunUntil([] { return false; }, 300);

    // Descriptors are plentiful again, but a server that stopped accepting would not notice.
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
    THttpClient client;
    ASSERT_TRUE(client.Connect(Port));
    const auto response = Ask(client, ReadRequest(300, 4));
    ASSERT_TRUE(response);
    EXPECT_NE(response->find("\"data\":{\"4\":4}"), std::string::npos) << *response;
}

TEST_F(ServerTest, AbandonedRequestsInARowLeaveTheNextOneServed) {
    ASSERT_TRUE(Start({"--silent"}));
    std::atomic<int> answered{0};
    std::atomic<bool> done{false};
    constexpr int kRounds = 30;
    std::thread clients([&] {
        for (int round = 0; round < kRounds; ++round) {
            for (int abandoned = 0; abandoned < 2; ++abandoned) {
                THttpClient leaving;
                if (leaving.Connect(Port)) {
                    leaving.Send(ReadRequest(2000));
                }
            }
            THttpClient next;
            if (next.Connect(Port) && next.Send("GET / HTTP/1.1\r\n\r\n") &&
                next.ReadResponse(3000)) {
                ++answered;
            }
        }
        done = true;
    });
    RunUntil([&] { return done.load(); }, 120000);
    clients.join();
    EXPECT_EQ(answered, kRounds);
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

// Without a descriptor for the link's stop request a disconnect could not stop a request, and
// without one for the inbox no request would be answered: the server does not open, and says
// why with the error of that moment, not whatever errno holds later.
TEST(ServerSetupTest, NoDescriptorForTheStopRequestOrTheInboxKeepsTheServerShut) {
#ifdef MODBUS_BRIDGE_SANITIZED
    // Their checks of memory open a pipe, and report a false invalid vptr when none can be had.
    GTEST_SKIP() << "the sanitizers' runtime itself needs descriptors while the limit is tight";
#endif
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
    // The lowest free descriptor number as the limit: the next descriptor cannot be had.
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    const auto withoutDescriptors = [&](const std::function<void()>& make) {
        rlimit tight = original;
        tight.rlim_cur = static_cast<rlim_t>(lowestFree);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
        make();
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
    };
    for (const bool stopFails : {true, false}) {
        std::unique_ptr<TRavo32> link;
        std::unique_ptr<TBridgeServer> server;
        TRecordingHost host;
        const auto makeLink = [&] { link = std::make_unique<TRavo32>(); };
        const auto makeServer = [&] { server = std::make_unique<TBridgeServer>(*link, host); };
        if (stopFails) {
            withoutDescriptors(makeLink);
            makeServer();
        } else {
            makeLink();
            withoutDescriptors(makeServer);
        }
        ASSERT_TRUE(link && server);
        errno = ENOENT;
        std::string error;
        EXPECT_FALSE(server->Open(0, error)) << "stop request fails: " << stopFails;
        EXPECT_EQ(error, "Windows socket error: " + std::string(std::strerror(EMFILE)) +
                             " (24), on API 'eventfd'")
            << "stop request fails: " << stopFails;
        EXPECT_EQ(server->ListeningPort(), 0);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
