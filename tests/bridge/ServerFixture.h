// The server of the bridge programs in this process, on loopback, with the simulated device
// behind the link; shared by the cases of every platform (ServerTest.cpp) and those of Linux's
// descriptor limits (ServerLimitsTest.cpp).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BridgeServer.h"
#include "HttpClient.h"
#include "Ravo32.h"
#include "RecordingHost.h"
#include "TestDevice.h"
#include "TestEventLoop.h"

inline constexpr uint8_t kComPort = 1;
const std::string kBusyLine = "Предыдущая команда не обработана ...";

class ServerTest : public ::testing::Test {
protected:
    bool Start(const std::vector<std::string>& simOptions) {
        if (!Device.Start(simOptions)) {
            ADD_FAILURE() << "the simulated device did not start";
            return false;
        }
        Link.MapPort(kComPort, Device.LinkPath());
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

    bool SentLineLogged() const {
        for (const auto& line : Host.Lines()) {
            if (line.Kind == TLogKind::Send) {
                return true;
            }
        }
        return false;
    }

    TTestDevice Device;
    TRavo32 Link;
    TRecordingHost Host;
    TBridgeServer Server{Link, Host};
    int Port = 0;
};
