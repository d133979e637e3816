// The server front end in this process, on loopback, with the simulated slave behind the link:
// what only real sockets, a real worker thread and a real line show. The same cases run against
// Qt's sockets (Linux, also under ThreadSanitizer) and against Winsock under wine; the core's
// races, limits and time-outs run scripted in ServerCoreTest.cpp.
#include <memory>

#include "ServerFixture.h"

namespace {

// What a second server on a taken port says: the text users know, with the system's words
// (on Windows in the system's language; wine has none, and the bridge its own).
#ifdef _WIN32
const std::string kAddressInUseNumber = "10048";
#else
const std::string kAddressInUseNumber = "98";
#endif

// The stop reaches a worker that waits on a real line, from the server's thread.
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

// A kept-alive connection whose client asks again the moment the reply arrives, with the worker
// on a thread of its own and its hand-over through the platform's inbox.
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

// The clients see the closing of the connections that gave way.
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

// The system's own word that a client left before its closing reached the server.
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

}  // namespace

int main(int argc, char* argv[]) {
    const TTestEventLoop eventLoop(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
