// The server at the limits of the process's descriptors (Linux): a full descriptor table must
// not leave it deaf, and without a descriptor for its wake-ups it does not open.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "ServerFixture.h"

namespace {

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
