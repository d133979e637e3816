// The server core through a scripted platform: every event, the clock and the worker's hand-over
// come when the script says, so races and time-outs play out the same on Linux and under wine.
// What only real sockets show stays in ServerTest.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "DemoPages.h"
#include "FakeSerialIo.h"
#include "HttpClient.h"
#include "HttpFraming.h"
#include "Lookups.h"
#include "MbapFraming.h"
#include "Ravo32.h"
#include "RecordingHost.h"
#include "RefusalLimiter.h"
#include "RequestErrors.h"
#include "RequestWorker.h"
#include "ScriptedServerPlatform.h"
#include "ServerCore.h"
#include "TestFrames.h"

namespace {

constexpr uint16_t kPort = 40123;
const std::string kHost = "Host: localhost:" + std::to_string(kPort) + "\r\n";
const std::string kBusyLine = "Предыдущая команда не обработана ...";
const std::string kThreadFault = "FAULT! Создание потока ...";
const std::string kCountLine =
    UnloggedRefusalsLine(0).substr(0, UnloggedRefusalsLine(0).size() - 1);

// A read whose reply names it by its rand_string; with no time-out nothing is awaited from the
// line, and the reply is the request's members with status ok.
std::string ReadRequest(const std::string& rand, const std::string& headers = "") {
    std::string request = PostRequest(
        R"({"company_id":1,"device_id":2,"slave_addr":1,"baud_rate":115200,"com_port":1,)"
        R"("poll_ms":100,"timeout_ms":0,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,)"
        R"("ctrl_invert":false,"rand_string":")" +
            rand + R"(","pdu":{"a":[3,0,1,0,1]}})",
        kPort);
    return request.insert(request.find("\r\n") + 2, headers);
}

// A host whose lines the limits concern carry the time of the script's clock, and whose error
// lines, once armed, throw instead of being written: an exception where nothing expects one.
class TClockedHost final : public TRecordingHost {
public:
    explicit TClockedHost(TServerPlatform& clock) : Clock(clock) {}

    void LogError(std::string text) override {
        if (ThrowingErrors > 0) {
            --ThrowingErrors;
            throw std::runtime_error("host fault");
        }
        Times.push_back(Clock.NowMs());
        TRecordingHost::LogError(std::move(text));
    }
    void LogInfo(std::string text) override {
        Times.push_back(Clock.NowMs());
        TRecordingHost::LogInfo(std::move(text));
    }
    void LogNotice(std::string text) override {
        Times.push_back(Clock.NowMs());
        TRecordingHost::LogNotice(std::move(text));
    }

    int ThrowingErrors = 0;
    std::vector<uint64_t> Times;

private:
    TServerPlatform& Clock;
};

class ServerCoreTest : public ::testing::Test {
protected:
    ServerCoreTest() {
        Link.MapPort(1, "/dev/scripted");
        Platform.Attach(Core);
        Core.SetLocalNames(kPort, "plant-pc", {});
    }

    // The reply the worker gives to these bytes, made aside on a line of its own.
    static std::string WorkersReply(const std::string& request) {
        TFakeSerialIo* const line = new TFakeSerialIo;
        TRavo32 link{std::unique_ptr<TSerialIo>(line)};
        link.MapPort(1, "/dev/aside");
        TRecordingHost host;
        return ServeRequest(ParseHttpRequest(request), link, host).value_or("no reply");
    }

    // A new client asks and the worker's hand-over runs; what the client got.
    std::string AskAlone(const std::string& request) {
        const TConnectionId client = Platform.Connect();
        Platform.Send(client, request);
        Platform.RunPosted();
        return Platform.TakeWritten(client);
    }

    TScriptedServerPlatform Platform;
    TClockedHost Host{Platform};
    TFakeSerialIo* Line = new TFakeSerialIo;
    TRavo32 Link{std::unique_ptr<TSerialIo>(Line)};
    TServerHooks Hooks;
    size_t WorkersStarted = 0;
    bool FailThreads = false;
    // The worker does its whole work at once; its hand-over waits among the posted tasks until
    // the script runs them, so the core sees it busy until then.
    TServerCore Core{Link, Host, Platform, Hooks, [this](std::function<void()> task) {
                         ++WorkersStarted;
                         if (FailThreads) {
                             throw std::system_error(
                                 std::make_error_code(std::errc::resource_unavailable_try_again));
                         }
                         task();
                     }};
};

// A page may post as fast as it likes whatever its framing: a refused one must get its refusal
// (never a worker's 103 to 106 after the access checks were skipped), a served one its framing
// error, both from the gate without a worker thread, and the log at most about twelve lines a
// second with the rest counted.
TEST_F(ServerCoreTest, ABurstOfBadlyFramedPostsIsAnsweredByTheGateWithItsLinesLimited) {
    struct TRow {
        const char* Name;
        TOriginMode Origins;
        bool CanAsk;
        std::string Headers;
        std::string BodyStart;
        std::string Key;
        // 0: each framing error its own code.
        int Code;
    };
    const std::string evil = "Origin: https://evil.example\r\n";
    const TRow rows[] = {
        {"a foreign page, nobody to ask", TOriginMode::List, false, kHost + evil, "", "", 125},
        {"a foreign page, asked in the window", TOriginMode::Ask, true, kHost + evil, "", "", 127},
        {"a foreign Host", TOriginMode::Ask, false, "Host: localhost:19284\r\n", "", "", 125},
        {"a wrong key", TOriginMode::Ask, false, kHost, "key=wrong&", "right", 125},
        {"no origin", TOriginMode::Ask, false, kHost, "", "", 0},
        {"a listed page", TOriginMode::List, false, kHost + "Origin: https://scada.example\r\n", "",
         "", 0},
    };
    constexpr int kPosts = 1000;
    constexpr uint64_t kApartMs = 4;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        Host.Clear();
        Host.Times.clear();
        TAccessSettings access;
        access.Origins = row.Origins;
        access.OriginDecisions = {{"https://scada.example", true}};
        access.Key = row.Key;
        Core.SetAccess(access);
        std::vector<std::string> asked;
        Hooks.AskAboutOrigin = nullptr;
        if (row.CanAsk) {
            Hooks.AskAboutOrigin = [&asked](const std::string& origin) {
                asked.push_back(origin);
                return true;
            };
        }
        const std::string body = row.BodyStart + "abc=1";
        const std::string framings[] = {
            "GET / HTTP/1.1\r\n" + row.Headers + "\r\n",
            "POST /\r\n" + row.Headers + "\r\n",
            // Answered when the wait for the rest of the request is over.
            "POST / HTTP/1.1\r\n" + row.Headers,
            "POST / HTTP/1.1\r\n" + row.Headers + "Content-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + body,
        };
        std::map<TConnectionId, std::string> unanswered;
        const auto collect = [&] {
            Platform.RunPosted();
            for (auto pending = unanswered.begin(); pending != unanswered.end();) {
                const std::string written = Platform.TakeWritten(pending->first);
                if (written.empty()) {
                    ++pending;
                    continue;
                }
                EXPECT_EQ(written, pending->second);
                Platform.PeerCloses(pending->first);
                pending = unanswered.erase(pending);
            }
        };
        const size_t workersBefore = WorkersStarted;
        const uint64_t start = Platform.NowMs();
        for (int post = 0; post < kPosts; ++post) {
            const std::string& request = framings[post % 4];
            const TConnectionId client = Platform.Connect();
            unanswered[client] = row.Code == 0
                                     ? WorkersReply(request)
                                     : ErrorStatusResponse(static_cast<uint8_t>(row.Code));
            Platform.Send(client, request);
            collect();
            Platform.Advance(kApartMs);
            collect();
        }
        Platform.Advance(2 * TServerCore::kCompletionWaitMs);
        collect();
        EXPECT_TRUE(unanswered.empty()) << unanswered.size() << " posts unanswered";
        EXPECT_EQ(WorkersStarted, workersBefore);
        EXPECT_TRUE(Line->Written.empty());
        EXPECT_EQ(asked.size(), row.CanAsk ? 1U : 0U);

        std::map<uint64_t, size_t> perSecond;
        for (const uint64_t time : Host.Times) {
            ++perSecond[(time - start) / 1000];
        }
        for (const auto& [second, lines] : perSecond) {
            EXPECT_LE(lines, 12U) << "second " << second;
        }
        // Every post has its line or is counted, and the first of the burst has its line.
        uint64_t accounted = 0;
        const std::vector<TRecordingHost::TLine> lines = Host.Lines();
        for (const auto& line : lines) {
            if (line.Text.starts_with(kCountLine)) {
                accounted += std::stoull(line.Text.substr(kCountLine.size()));
            } else if (line.Text.starts_with("Error[")) {
                ++accounted;
            }
        }
        EXPECT_EQ(accounted, static_cast<uint64_t>(kPosts));
        const auto first = std::find_if(lines.begin(), lines.end(), [](const auto& line) {
            return line.Kind == TLogKind::Error;
        });
        ASSERT_NE(first, lines.end());
        const int firstCode = row.Code == 0 ? ErrorCode::NoPostLine : row.Code;
        EXPECT_TRUE(first->Text.starts_with("Error[" + std::to_string(firstCode) + "] - "))
            << first->Text;
    }
}

// Clients that ask, leave with or without news, and are held while one is served, in a seeded
// order, with the worker's hand-overs and the clock coming in between: a reply goes only to the
// connection whose request it answers, once, never after its closing; nothing stays locked.
TEST_F(ServerCoreTest, RacingClientsLeaveNothingLockedAndNoStrayReply) {
    struct TClient {
        TConnectionId Id = 0;
        // The reply it waits for; empty while it waits for none.
        std::string Expected;
    };
    const std::string root = "GET / HTTP/1.1\r\n" + kHost + "\r\n";
    const std::string rootAnswer = WorkersReply(root);
    std::mt19937 random(24);
    TClient clients[3];
    std::vector<TConnectionId> closingsBehind;
    int sequence = 0;
    size_t replies = 0;
    size_t stopped = 0;
    for (int step = 0; step < 4000; ++step) {
        TClient& client = clients[random() % 3];
        switch (random() % 8) {
            case 0:
            case 1:
            case 2: {
                // Like a page, it asks again only once it has its reply or has given up.
                if (!client.Expected.empty()) {
                    break;
                }
                if (client.Id == 0) {
                    client.Id = Platform.Connect();
                }
                const bool read = random() % 4 != 0;
                const std::string request =
                    read ? ReadRequest("r" + std::to_string(++sequence)) : root;
                client.Expected = read ? WorkersReply(request) : rootAnswer;
                Platform.Send(client.Id, request);
                break;
            }
            case 3: {
                if (client.Id == 0) {
                    break;
                }
                const bool news = random() % 2 == 0;
                const bool wasBusy = Core.Busy();
                Platform.PeerCloses(client.Id, news);
                if (!news) {
                    closingsBehind.push_back(client.Id);
                }
                stopped += wasBusy && !Core.Busy() ? 1U : 0U;
                client = {};
                break;
            }
            case 4:
            case 5:
                Platform.RunPosted();
                break;
            case 6:
                Platform.Advance(random() % 1500);
                break;
            default:
                for (const TConnectionId closed : closingsBehind) {
                    Platform.PeerCloses(closed);
                }
                closingsBehind.clear();
                break;
        }
        for (TClient& each : clients) {
            if (each.Id == 0) {
                continue;
            }
            const std::string written = Platform.TakeWritten(each.Id);
            if (!written.empty()) {
                ASSERT_EQ(written, each.Expected) << "step " << step;
                each.Expected.clear();
                ++replies;
            }
        }
    }
    EXPECT_EQ(Platform.StrayWrites, 0U);
    // The order above served many, held some and stopped some.
    EXPECT_GT(replies, 300U);
    EXPECT_GT(stopped, 10U);
    EXPECT_GT(Host.Count(TLogKind::Error, kBusyLine), 10U);

    for (const TConnectionId closed : closingsBehind) {
        Platform.PeerCloses(closed);
    }
    Platform.RunPosted();
    EXPECT_FALSE(Core.Busy());
    EXPECT_FALSE(Link.IsOpen());
    const std::string last = ReadRequest("last");
    EXPECT_EQ(AskAlone(last), WorkersReply(last));
}

// The served request ends without a reply when its client leaves, noticed at once or only when
// other data comes, or when the bridge shuts down; its hand-over, coming after a new request took
// the worker, must not reach the new client. The server is free again at once.
TEST_F(ServerCoreTest, AStoppedRequestGetsNoReplyAndTheNextOneIsServed) {
    enum class TEnd { ClientLeaves, ClientLeavesUnnoticed, BothLeaveUnnoticed, Shutdown };
    const std::pair<const char*, TEnd> rows[] = {
        {"the client leaves", TEnd::ClientLeaves},
        {"the client leaves behind other events", TEnd::ClientLeavesUnnoticed},
        {"it and a held one leave behind other events", TEnd::BothLeaveUnnoticed},
        {"shutdown", TEnd::Shutdown},
    };
    for (const auto& [name, end] : rows) {
        SCOPED_TRACE(name);
        const TConnectionId served = Platform.Connect();
        Platform.Send(served, ReadRequest("served"));
        ASSERT_TRUE(Core.Busy());
        const TConnectionId held = Platform.Connect();
        Platform.Send(held, ReadRequest("held"));
        const uint64_t before = Platform.NowMs();
        const std::string next = ReadRequest(std::string("next ") + name);
        const TConnectionId asker = Platform.Connect();
        switch (end) {
            case TEnd::ClientLeaves:
                Platform.PeerCloses(served);
                EXPECT_FALSE(Core.Busy());
                break;
            case TEnd::BothLeaveUnnoticed:
                Platform.PeerCloses(held, false);
                [[fallthrough]];
            case TEnd::ClientLeavesUnnoticed:
                Platform.PeerCloses(served, false);
                break;
            case TEnd::Shutdown:
                Core.Shutdown();
                EXPECT_FALSE(Core.Busy());
                EXPECT_EQ(Platform.NowMs() - before, uint64_t{TServerCore::kShutdownPauseMs});
                break;
        }
        Platform.Send(asker, next);
        Platform.RunPosted();
        EXPECT_EQ(Platform.TakeWritten(asker), WorkersReply(next));
        EXPECT_EQ(Platform.TakeWritten(served), "");
        EXPECT_EQ(Platform.StrayWrites, 0U);
        EXPECT_FALSE(Core.Busy());
        EXPECT_FALSE(Link.IsOpen());
        Platform.PeerCloses(served);
        Platform.PeerCloses(held);
        Platform.PeerCloses(asker);
    }
    EXPECT_EQ(Host.Count(TLogKind::Error, kThreadFault), 0U);
}

TEST_F(ServerCoreTest, ARequestWhoseThreadCannotBeCreatedStaysWithItsConnection) {
    const TConnectionId client = Platform.Connect();
    FailThreads = true;
    Platform.Send(client, ReadRequest("first"));
    EXPECT_EQ(Host.Count(TLogKind::Error, kThreadFault), 1U);
    EXPECT_FALSE(Core.Busy());
    EXPECT_EQ(Platform.RunPosted(), 0U);
    EXPECT_EQ(Platform.TakeWritten(client), "");

    // The next data on that connection brings the first request along, and it is served.
    FailThreads = false;
    Platform.Send(client, ReadRequest("second"));
    Platform.RunPosted();
    EXPECT_EQ(Platform.TakeWritten(client), WorkersReply(ReadRequest("first")));
    EXPECT_EQ(Host.Count(TLogKind::Error, kThreadFault), 1U);
}

TEST_F(ServerCoreTest, AFaultBeyondTheRequestsOwnReplyIsReportedAndStillAnswered) {
    std::vector<std::string> reports;
    Hooks.ReportFault = [&reports](const std::string& text) { reports.push_back(text); };
    // The JSON does not parse: the error line throws, and so does the internal fault's line.
    Host.ThrowingErrors = 2;
    const std::string answered = AskAlone(PostRequest("{", kPort));
    EXPECT_EQ(answered, InternalFaultResponse());
    EXPECT_EQ(reports, std::vector<std::string>{"host fault"});
    EXPECT_FALSE(Core.Busy());
    EXPECT_FALSE(Link.IsOpen());

    const std::string next = ReadRequest("next");
    EXPECT_EQ(AskAlone(next), WorkersReply(next));
    EXPECT_EQ(reports.size(), 1U);
}

// A GET of the bridge's page never touches the line: it is answered while a request is served,
// after the Host check, without the busy lines. Anything else that comes then, also on the
// served connection, stays unread with the two busy lines.
TEST_F(ServerCoreTest, ThePageIsAnsweredWhileARequestIsServedAndNothingElseIs) {
    const TConnectionId served = Platform.Connect();
    Platform.Send(served, ReadRequest("served"));
    const std::string page = "GET /demo/ HTTP/1.1\r\n" + kHost + "\r\n";
    const std::string script = "GET /demo/demo.js HTTP/1.1\r\n" + kHost;
    const std::string foreignHost =
        "GET /demo/ HTTP/1.1\r\nHost: evil.example:" + std::to_string(kPort) + "\r\n\r\n";
    struct TRow {
        const char* Name;
        std::vector<std::string> Pieces;
        // Empty: the request stays unread and unanswered.
        std::string Response;
    };
    const TRow rows[] = {
        {"the page", {page}, AnswerDemoPage(page).Response},
        {"a file of the page in two pieces", {script, "\r\n"}, AnswerDemoPage(script).Response},
        {"the page with a foreign Host",
         {foreignHost},
         ErrorStatusResponse(ErrorCode::AccessRefused)},
        {"the root", {"GET / HTTP/1.1\r\n" + kHost + "\r\n"}, ""},
        {"a POST", {ReadRequest("held")}, ""},
    };
    size_t unanswered = 0;
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        const TConnectionId client = Platform.Connect();
        for (const std::string& piece : row.Pieces) {
            EXPECT_EQ(Platform.TakeWritten(client), "") << "answered before the request ended";
            Platform.Send(client, piece);
        }
        EXPECT_TRUE(Platform.TakeWritten(client) == row.Response);
        unanswered += row.Response.empty() ? 1U : 0U;
        EXPECT_EQ(Host.Count(TLogKind::Error, kBusyLine), unanswered);
        EXPECT_TRUE(Core.Busy());
    }
    Platform.Send(served, page);
    EXPECT_EQ(Platform.TakeWritten(served), "");
    EXPECT_EQ(Host.Count(TLogKind::Error, kBusyLine), unanswered + 1);
    EXPECT_EQ(Host.Count(TLogKind::Error,
                         "Error[125] - Запрос отклонён настройками доступа моста: Host не называет "
                         "этот компьютер (адрес 127.0.0.1, Host: evil.example:" +
                             std::to_string(kPort) + ", Origin: -)"),
              1U);
    Platform.RunPosted();
    EXPECT_EQ(Platform.TakeWritten(served), WorkersReply(ReadRequest("served")));
}

// A client that asks for the page's script again and again and takes none of it is closed before
// its answers pile up in the bridge; one that takes each is served to the end.
TEST_F(ServerCoreTest, AClientThatTakesNoneOfItsAnswersIsClosedBeforeTheyPileUp) {
    const std::string script = "GET /demo/demo.js HTTP/1.1\r\n" + kHost + "\r\n";
    const size_t scriptBytes = AnswerDemoPage(script).Response.size();
    const size_t closedAt = TServerCore::kMostUnsentBytes / scriptBytes + 2;
    for (const bool takes : {true, false}) {
        SCOPED_TRACE(takes ? "it takes them" : "it takes none");
        const TConnectionId client = Platform.Connect();
        size_t asked = 0;
        while (asked < 2 * closedAt && Platform.Open(client)) {
            Platform.Send(client, script);
            ++asked;
            if (takes) {
                EXPECT_EQ(Platform.TakeWritten(client).size(), scriptBytes);
            }
        }
        EXPECT_EQ(Platform.Open(client), takes);
        EXPECT_EQ(asked, takes ? 2 * closedAt : closedAt);
    }
}

// Idle or abandoned clients cannot use up the descriptors: beyond the limit the oldest idle
// connection is closed, never the one whose request is served.
TEST_F(ServerCoreTest, IdleConnectionsBeyondTheLimitGiveWayToNewOnes) {
    constexpr size_t kLimit = TServerCore::kMaxConnections;
    const TConnectionId served = Platform.Connect();
    Platform.Send(served, ReadRequest("served"));
    std::vector<TConnectionId> idle;
    for (size_t index = 0; index < kLimit + 60; ++index) {
        idle.push_back(Platform.Connect());
        ASSERT_EQ(Core.ConnectionCount(), std::min(index + 2, kLimit));
    }
    EXPECT_TRUE(Platform.Open(served));
    EXPECT_FALSE(Platform.Open(idle.front()));
    EXPECT_FALSE(Platform.Open(idle[60]));
    EXPECT_TRUE(Platform.Open(idle[61]));
    Platform.RunPosted();
    EXPECT_EQ(Platform.TakeWritten(served), WorkersReply(ReadRequest("served")));
    const std::string next = ReadRequest("next");
    EXPECT_EQ(AskAlone(next), WorkersReply(next));
    EXPECT_EQ(Platform.StrayWrites, 0U);
}

}  // namespace

namespace {

// A read of one register from a slave that the scripted line leaves without an answer when a
// time-out is given: a time-out (123), and the slave is silent from then on.
std::string SlaveRequest(const std::string& rand, int slave, int timeoutMs) {
    return PostRequest(
        R"({"company_id":1,"device_id":2,"slave_addr":)" + std::to_string(slave) +
            R"(,"baud_rate":115200,"com_port":1,"poll_ms":100,"timeout_ms":)" +
            std::to_string(timeoutMs) +
            R"(,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,"ctrl_invert":false,)"
            R"("rand_string":")" +
            rand + R"(","pdu":{"a":[3,0,1,0,1]}})",
        kPort);
}

const std::string kQueueLine = "Error[128] - Линия занята: время ожидания в очереди моста истекло";

}  // namespace

// With the queue on, requests that find the line busy wait and are served one after another in
// the order they came, each answered once on its own connection; one more than the queue holds
// gets the busy lines and no reply, as without a queue. The faults: a waiting request lost or
// answered twice, a reply on another client's connection, a full queue that grows.
TEST_F(ServerCoreTest, WaitingRequestsAreServedInTurnEachOnceAndOneTooManyIsBusy) {
    Core.SetQueue({.Depth = 3, .WaitMs = 5000});
    std::vector<std::pair<TConnectionId, std::string>> clients;
    for (const char* rand : {"a", "b", "c", "d"}) {
        clients.emplace_back(Platform.Connect(), ReadRequest(rand));
        Platform.Send(clients.back().first, clients.back().second);
    }
    EXPECT_EQ(Core.WaitingCount(), 3U);
    EXPECT_EQ(Line->Written.size(), 1U);
    const TConnectionId tooMany = Platform.Connect();
    Platform.Send(tooMany, ReadRequest("e"));
    EXPECT_EQ(Core.WaitingCount(), 3U);
    EXPECT_EQ(Host.Count(TLogKind::Error, kBusyLine), 1U);
    for (size_t served = 0; served < clients.size(); ++served) {
        EXPECT_EQ(Platform.RunPosted(), 1U) << served;
        for (size_t client = 0; client < clients.size(); ++client) {
            EXPECT_EQ(Platform.TakeWritten(clients[client].first),
                      client == served ? WorkersReply(clients[client].second) : "")
                << served << " " << client;
        }
        EXPECT_EQ(Line->Written.size(), std::min(served + 2, clients.size()));
    }
    EXPECT_FALSE(Core.Busy());
    EXPECT_EQ(Platform.TakeWritten(tooMany), "");
    EXPECT_EQ(Platform.StrayWrites, 0U);
}

// A waiting request whose client leaves is dropped without touching the line; one that waits
// too long is answered 128 with nothing of it sent, its line in the log. The request being
// served goes on.
TEST_F(ServerCoreTest, AWaitEndsWithItsClientOrAs128AndNeitherTouchesTheLine) {
    Core.SetQueue({.Depth = 3, .WaitMs = 1000});
    const TConnectionId served = Platform.Connect();
    Platform.Send(served, ReadRequest("served"));
    const TConnectionId waiting = Platform.Connect();
    Platform.Send(waiting, ReadRequest("waiting"));
    const TConnectionId leaving = Platform.Connect();
    Platform.Send(leaving, ReadRequest("leaving"));
    EXPECT_EQ(Core.WaitingCount(), 2U);
    Platform.PeerCloses(leaving);
    EXPECT_EQ(Core.WaitingCount(), 1U);
    EXPECT_TRUE(Core.Busy());

    Platform.Advance(999);
    EXPECT_EQ(Platform.TakeWritten(waiting), "");
    Platform.Advance(1);
    const std::string expired = Platform.TakeWritten(waiting);
    EXPECT_NE(expired.find(R"("error_code":128)"), std::string::npos) << expired;
    EXPECT_NE(
        expired.find(R"("error_text":"Линия занята: время ожидания в очереди моста истекло")"),
        std::string::npos)
        << expired;
    EXPECT_NE(expired.find(R"("rand_string":"waiting")"), std::string::npos) << expired;
    EXPECT_EQ(Host.Count(TLogKind::Error, kQueueLine), 1U);
    EXPECT_EQ(Core.WaitingCount(), 0U);

    EXPECT_EQ(Platform.RunPosted(), 1U);
    EXPECT_EQ(Platform.TakeWritten(served), WorkersReply(ReadRequest("served")));
    EXPECT_EQ(Platform.RunPosted(), 0U);
    EXPECT_EQ(Line->Written.size(), 1U);
    EXPECT_EQ(Platform.StrayWrites, 0U);
}

// A slave that did not answer its last request: requests to answering slaves go first, one
// request for it waits, more are answered 128 at once with one line for the slave, not one per
// request. The pause its time-out left owed holds before the next exchange, whoever sent it.
TEST_F(ServerCoreTest, ASilentSlaveWaitsBehindTheOthersWithOneRequestAndOneLine) {
    Core.SetQueue({.Depth = 8, .WaitMs = 5000});
    const TConnectionId first = Platform.Connect();
    Platform.Send(first, SlaveRequest("first", 5, 250));
    Platform.RunPosted();
    EXPECT_NE(Platform.TakeWritten(first).find(R"("error_code":123)"), std::string::npos);

    const auto start = std::chrono::steady_clock::now();
    const TConnectionId busy = Platform.Connect();
    Platform.Send(busy, ReadRequest("busy"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50))
        << "the exchange after a time-out began before the pause";
    std::vector<TConnectionId> silent;
    for (const char* rand : {"silent 1", "silent 2", "silent 3"}) {
        silent.push_back(Platform.Connect());
        Platform.Send(silent.back(), SlaveRequest(rand, 5, 250));
    }
    const TConnectionId answering = Platform.Connect();
    Platform.Send(answering, ReadRequest("answering"));
    EXPECT_EQ(Core.WaitingCount(), 2U);
    for (const size_t refused : {size_t{1}, size_t{2}}) {
        const std::string reply = Platform.TakeWritten(silent[refused]);
        EXPECT_NE(reply.find(R"("error_code":128)"), std::string::npos) << reply;
    }
    EXPECT_EQ(Host.Count(TLogKind::Error,
                         "Устройство с адресом 5 на COM1 не ответило на последний запрос: пока "
                         "оно молчит, в очереди ждёт один его запрос, остальные сразу получают "
                         "ошибку 128"),
              1U);

    while (Platform.RunPosted() > 0) {
    }
    std::vector<int> slaves;
    for (const std::vector<uint8_t>& frame : Line->Written) {
        slaves.push_back(frame.at(0));
    }
    EXPECT_EQ(slaves, (std::vector<int>{5, 1, 1, 5}));
    EXPECT_EQ(Platform.TakeWritten(answering), WorkersReply(ReadRequest("answering")));
    EXPECT_NE(Platform.TakeWritten(silent[0]).find(R"("error_code":123)"), std::string::npos);
}

// After shutdown the waiting requests never take the line, not even when a late request arrives
// before the sockets close (that one is served, as without a queue).
TEST_F(ServerCoreTest, ShutdownLeavesTheWaitingRequestsOffTheLine) {
    Core.SetQueue({.Depth = 4, .WaitMs = 5000});
    const TConnectionId served = Platform.Connect();
    Platform.Send(served, ReadRequest("served"));
    const TConnectionId waiting = Platform.Connect();
    Platform.Send(waiting, ReadRequest("waiting"));
    Core.Shutdown();
    const TConnectionId late = Platform.Connect();
    Platform.Send(late, SlaveRequest("late", 7, 0));
    Platform.RunPosted();
    std::vector<int> slaves;
    for (const std::vector<uint8_t>& frame : Line->Written) {
        slaves.push_back(frame.at(0));
    }
    EXPECT_EQ(slaves, (std::vector<int>{1, 7}));
    EXPECT_EQ(Platform.TakeWritten(waiting), "");
}

namespace {

// An MBAP frame of the unit and PDU under the transaction id.
std::string Mbap(uint16_t transaction, uint8_t unit, const TBytes& pdu) {
    return BuildMbapAnswer(transaction, unit, std::string(pdu.begin(), pdu.end()));
}

std::string ExceptionFrame(uint16_t transaction, uint8_t unit, uint8_t function, uint8_t code) {
    return Mbap(transaction, unit, {static_cast<uint8_t>(function | 0x80), code});
}

TModbusTcpSettings ModbusLine() {
    TModbusTcpSettings line;
    line.Port = 1502;
    line.Baud = 115200;
    line.TimeoutMs = 250;
    return line;
}
const TModbusTcpSettings kModbusLine = ModbusLine();

}  // namespace

// Pipelined Modbus TCP requests beside a page's: each one exchange on the line in its turn, the
// answers in the order of the requests whatever order they were made in: the slave's data, its
// own exception passed through, 0x0B for a slave that stays silent, exception 1 for a write to a
// read-only port and 0x0A for a full queue, neither of them sent.
TEST_F(ServerCoreTest, ModbusTcpRequestsShareTheLineAndAreAnsweredInOrder) {
    Core.SetQueue({.Depth = 3, .WaitMs = 5000});
    Core.SetModbusTcp(kModbusLine);
    TAccessSettings access;
    access.Ports.ReadOnly.set(2);
    Core.SetAccess(access);

    // A master's answer goes out at once; the pause after its exchange holds before the next.
    const TConnectionId master = Platform.ConnectModbus("10.0.0.7");
    ASSERT_NE(master, 0U);
    Line->QueueChunk(WithCrc({0x11, 3, 2, 0, 42}));
    Line->QueueChunk(WithCrc({0x11, 3, 2, 0, 43}));
    const auto start = std::chrono::steady_clock::now();
    Platform.Send(master, Mbap(7, 0x11, {3, 0, 0, 0, 1}) + Mbap(8, 0x11, {3, 0, 0, 0, 1}));
    while (Platform.RunPosted() > 0) {
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(ExchangePause(kModbusLine.Baud)))
        << "two exchanges with no pause between them";
    EXPECT_EQ(Platform.TakeWritten(master),
              Mbap(7, 0x11, {3, 2, 0, 42}) + Mbap(8, 0x11, {3, 2, 0, 43}));
    Line->Written.clear();
    Host.Clear();

    const TConnectionId page = Platform.Connect();
    Platform.Send(page, ReadRequest("page"));
    ASSERT_TRUE(Core.Busy());
    Line->QueueChunk(WithCrc({0x11, 3, 2, 0, 42}));
    Line->QueueChunk(WithCrc({0x11, 0x83, 2}));

    Platform.Send(master, Mbap(1, 0x11, {3, 0, 0, 0, 1}) + Mbap(2, 0x11, {3, 0, 9, 0, 1}) +
                              Mbap(3, 0x12, {6, 0, 1, 0, 5}) + Mbap(4, 0x11, {3, 0, 0, 0, 1}));
    EXPECT_EQ(Core.WaitingCount(), 3U);
    EXPECT_EQ(Platform.TakeWritten(master), "") << "an answer went out before those before it";
    while (Platform.RunPosted() > 0) {
    }
    EXPECT_EQ(Platform.TakeWritten(master),
              Mbap(1, 0x11, {3, 2, 0, 42}) + Mbap(2, 0x11, {0x83, 2}) +
                  ExceptionFrame(3, 0x12, 6, 0x0B) + ExceptionFrame(4, 0x11, 3, 0x0A));
    EXPECT_EQ(Line->Written, (std::vector<TBytes>{
                                 WithCrc({1, 3, 0, 1, 0, 1}), WithCrc({0x11, 3, 0, 0, 0, 1}),
                                 WithCrc({0x11, 3, 0, 9, 0, 1}), WithCrc({0x12, 6, 0, 1, 0, 5})}));
    // The tray and the status follow a master's requests as they follow the page's.
    EXPECT_EQ(Host.Progress(),
              (std::vector<std::string>{"begun", "ended 0 ", "begun", "ended 0 ", "begun",
                                        "ended 2 Указанный в запросе адрес данных не существует",
                                        "begun", "ended 123 Истекло время ожидания ответа"}));

    TModbusTcpSettings readOnlyLine = kModbusLine;
    readOnlyLine.Com = 2;
    Core.SetModbusTcp(readOnlyLine);
    Platform.Send(master, Mbap(5, 1, {6, 0, 1, 0, 5}) + Mbap(6, 1, {16, 0, 1, 0, 1, 2, 0, 5}));
    EXPECT_EQ(Platform.TakeWritten(master),
              ExceptionFrame(5, 1, 6, 0x01) + ExceptionFrame(6, 1, 16, 0x01));
    EXPECT_EQ(Line->Written.size(), 4U) << "a write reached a read-only port";
    EXPECT_TRUE(Platform.Open(master));
    EXPECT_EQ(Platform.StrayWrites, 0U);
}

// A header that breaks the framing closes its connection with nothing sent, the requests
// before it answered; masters beyond 32 are refused, and one idle for a minute is closed.
TEST_F(ServerCoreTest, ModbusTcpConnectionsCloseOnABrokenHeaderBeyondTheirLimitAndWhenIdle) {
    Core.SetQueue({.Depth = 8, .WaitMs = 5000});
    Core.SetModbusTcp(kModbusLine);
    const std::string goodRead = Mbap(1, 1, {3, 0, 0, 0, 1});
    const struct {
        const char* What;
        std::string Tail;
    } broken[] = {
        {"protocol id 1", std::string("\x00\x02\x00\x01\x00\x06\x01\x03\x00\x00\x00\x01", 12)},
        {"length 1", std::string("\x00\x02\x00\x00\x00\x01\x01", 7)},
        {"length 255", std::string("\x00\x02\x00\x00\x00\xFF", 6)},
        {"an HTTP request", ReadRequest("page")},
    };
    for (const auto& row : broken) {
        SCOPED_TRACE(row.What);
        Line->Written.clear();
        Line->QueueChunk(WithCrc({1, 3, 2, 0, 7}));
        const TConnectionId master = Platform.ConnectModbus();
        Platform.Send(master, goodRead + row.Tail);
        while (Platform.RunPosted() > 0) {
        }
        EXPECT_EQ(Platform.TakeWritten(master), Mbap(1, 1, {3, 2, 0, 7}));
        EXPECT_FALSE(Platform.Open(master));
        EXPECT_EQ(Line->Written.size(), 1U);
    }

    std::vector<TConnectionId> masters;
    for (size_t index = 0; index < TServerCore::kMaxModbusConnections; ++index) {
        masters.push_back(Platform.ConnectModbus());
        ASSERT_NE(masters.back(), 0U) << index;
    }
    EXPECT_EQ(Platform.ConnectModbus(), 0U);
    const TConnectionId page = Platform.Connect();
    EXPECT_NE(page, 0U) << "the pages lost their server to the masters";

    Platform.Advance(TServerCore::kModbusIdleMs - 1000);
    Line->QueueChunk(WithCrc({1, 3, 2, 0, 7}));
    Platform.Send(masters[0], goodRead);
    Platform.RunPosted();
    Platform.Advance(1000);
    EXPECT_TRUE(Platform.Open(masters[0]));
    EXPECT_FALSE(Platform.Open(masters[1]));
    EXPECT_NE(Platform.ConnectModbus(), 0U);
}
