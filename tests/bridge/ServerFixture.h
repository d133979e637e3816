// The server of the bridge programs in this process, on loopback, with the simulated device
// behind the link; shared by the cases of every platform (ServerTest.cpp) and those of Linux's
// descriptor limits (ServerLimitsTest.cpp).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
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
const std::string kThreadFault = "FAULT! Создание потока ...";

// A response as the server frames it: status line, Content-Length that fits, a JSON object.
inline bool WellFormed(const std::string& response) {
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

    TTestDevice Device;
    TRavo32 Link;
    TThrowingHost Host;
    // While set, the system has no thread to give the server.
    std::atomic<bool> FailThreads{false};
    TBridgeServer Server{Link, Host, [this](std::function<void()> task) {
                             if (FailThreads) {
                                 throw std::system_error(std::make_error_code(
                                     std::errc::resource_unavailable_try_again));
                             }
                             return std::thread(std::move(task));
                         }};
    int Port = 0;
};
