// The window as a program, offscreen: what only its main and a real termination signal show.
// Its log is read from the daily file of LogFolder, since the window prints none of it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Cp1251.h"
#include "PortHolder.h"
#include "SpawnedProgram.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 19284;
constexpr int kStartBoundMs = 10000;
// The window ends within a second of SIGTERM; the bound only tells an end from a hang.
constexpr int kEndBoundMs = 3000;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// The bridge's port held on 127.0.0.1, where the window listens first.
struct TTakenBridgePort {
    TTakenBridgePort() {
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(kPort);
        // Connections of an earlier run left in TIME_WAIT do not hold the port.
        const int on = 1;
        setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        Held = bind(Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
               listen(Fd, 1) == 0;
    }
    ~TTakenBridgePort() { close(Fd); }
    int Fd = -1;
    bool Held = false;
};

// True once the process blocks SIGTERM: from then on a SIGTERM waits for the program to read it.
bool BlocksTermination(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigBlk:")) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask & (1ULL << (SIGTERM - 1))) != 0;
        }
    }
    return false;
}

class WindowProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::optional<std::string> holder = PortHolder(kPort)) {
            GTEST_FAIL() << "port " << kPort << " is taken: " << *holder;
        }
        Folder = fs::temp_directory_path() / ("window-program-test-" + std::to_string(getpid()));
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        fs::copy_file(MODBUS_BRIDGE_PATH, Folder / "modbus-bridge");
        std::ofstream(Folder / "modbus-bridge.ini")
            << "[Options]\nLogFolder=" << LogFolder().string() << "\n";
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The programs' markers in a runtime folder of the test's own.
        fs::create_directory(Folder / "runtime");
        fs::permissions(Folder / "runtime", fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", (Folder / "runtime").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(Folder); }

    fs::path LogFolder() const { return Folder / "logs"; }

    // The lines of today's daily file, once one holds the text; empty when none does in time.
    std::vector<std::string> LogLinesUpTo(const std::string& text) const {
        const std::time_t now = std::time(nullptr);
        char name[64];
        std::strftime(name, sizeof name, "modbus-bridge-%Y-%m-%d.txt", std::localtime(&now));
        const auto end = Clock::now() + std::chrono::milliseconds(kStartBoundMs);
        while (Clock::now() < end) {
            const std::string content = Cp1251ToUtf8(ReadFile(LogFolder() / name));
            if (content.find(text) != std::string::npos) {
                std::vector<std::string> lines;
                std::istringstream stream(content);
                for (std::string line; std::getline(stream, line);) {
                    line.erase(line.find_last_not_of('\r') + 1);
                    lines.push_back(line.substr(line.find('\t') + 1));
                }
                return lines;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return {};
    }

    fs::path Folder;
};

// With the port taken, the window starts anyway: the start lines, the line that says no server
// listens and how to find the port's holder, the report beside the window; and SIGTERM ends it at
// once, the report still open.
TEST_F(WindowProgramTest, WithThePortTakenItLogsWhyAndEndsOnSigterm) {
    const TTakenBridgePort taken;
    ASSERT_TRUE(taken.Held);
    TSpawnedProgram window;
    ASSERT_TRUE(window.Start((Folder / "modbus-bridge").string(), {}));
    const std::vector<std::string> lines = LogLinesUpTo("ss -ltnp");
    ASSERT_GE(lines.size(), 8U) << "no line about the taken port";
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 7),
              (std::vector<std::string>{
                  "RAVO Duridur - Modbus демонстрационный мост",
                  "Показывать Только ошибки: Отключено", "Показывать Параметры связи: Отключено",
                  "Показывать НЕХ данные: Отключено", "Старт", std::string(48, '-')}));
    EXPECT_EQ(lines[7],
              "Сервер не запущен, запросы страниц не принимаются: порт 19284 занят другой "
              "программой (Windows socket error: Address already in use (98), on API 'bind'); "
              "какой, покажет ss -ltnp");

    const auto signalled = Clock::now();
    const std::optional<int> status = window.Stop();
    const auto endedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled).count();
    EXPECT_EQ(status, 0) << "killed after SIGTERM went unheard";
    EXPECT_LT(endedMs, kEndBoundMs);
    RecordProperty("ms_from_sigterm_to_end", static_cast<int>(endedMs));
}

// Whichever of the window and modbus-bridged starts second finds the port taken and names the
// first in its line, read from the first's marker: the window in its log and running on,
// modbus-bridged on standard error, ending with 1.
TEST_F(WindowProgramTest, TheLaterOfTheWindowAndModbusBridgedNamesTheFirst) {
    fs::copy_file(MODBUS_BRIDGED_PATH, Folder / "modbus-bridged");
    const std::string taken =
        "Сервер не запущен, запросы страниц не принимаются: порт 19284 занят программой ";
    const std::string reason =
        " (Windows socket error: Address already in use (98), on API "
        "'bind')";
    {
        SCOPED_TRACE("modbus-bridged first");
        TSpawnedProgram bridged;
        ASSERT_TRUE(bridged.Start((Folder / "modbus-bridged").string(), {}));
        ASSERT_TRUE(bridged.WaitForLine("Сервер слушает порт", kStartBoundMs));
        TSpawnedProgram window;
        ASSERT_TRUE(window.Start((Folder / "modbus-bridge").string(), {}));
        const std::vector<std::string> lines = LogLinesUpTo(taken);
        ASSERT_GE(lines.size(), 8U) << "no line about the taken port";
        EXPECT_EQ(lines[7], taken + "modbus-bridged" + reason);
        EXPECT_EQ(window.Stop(), 0);
        EXPECT_EQ(bridged.Stop(), 0);
    }
    {
        SCOPED_TRACE("the window first");
        TSpawnedProgram window;
        ASSERT_TRUE(window.Start((Folder / "modbus-bridge").string(), {}));
        ASSERT_FALSE(LogLinesUpTo("Сервер слушает порт").empty());
        TSpawnedProgram bridged;
        ASSERT_TRUE(bridged.Start((Folder / "modbus-bridged").string(), {}));
        EXPECT_EQ(bridged.WaitForExit(kStartBoundMs), 1);
        EXPECT_EQ(bridged.ReadErrorLine(kStartBoundMs),
                  "modbus-bridged: " + taken + "modbus-bridge (окно)" + reason);
        EXPECT_EQ(window.Stop(), 0);
    }
}

// With the descriptor limit set lower and lower, the window fails at one step after another;
// whichever it is, the program either ends on SIGTERM or ends by itself, never runs deaf to it.
// Where the termination signals' descriptor, or the server's wake-up descriptors, are the step
// that fails, it says so and does not start.
TEST_F(WindowProgramTest, AtEveryDescriptorLimitSigtermEndsItOrItDoesNotStart) {
    const TTakenBridgePort taken;
    ASSERT_TRUE(taken.Held);
    int refusals = 0;
    int serverRefusals = 0;
    for (int limit = 5; limit <= 24; ++limit) {
        SCOPED_TRACE("descriptor limit " + std::to_string(limit));
        TSpawnedProgram window;
        ASSERT_TRUE(
            window.Start("/bin/sh", {"-c", "ulimit -n " + std::to_string(limit) + " && exec \"$0\"",
                                     (Folder / "modbus-bridge").string()}));
        // Sent once the program blocks it, SIGTERM waits for the program to read it. A program
        // that ends by a signal of its own (a library that aborts) is reaped without a status.
        const auto end = Clock::now() + std::chrono::milliseconds(kStartBoundMs);
        bool blocked = false;
        std::optional<int> ended;
        while (window.Pid() > 0 && Clock::now() < end &&
               !(blocked = BlocksTermination(window.Pid()))) {
            ended = window.WaitForExit(10);
        }
        if (blocked) {
            kill(window.Pid(), SIGTERM);
            ended = window.WaitForExit(kEndBoundMs);
        }
        EXPECT_LE(window.Pid(), 0) << "still running, SIGTERM unheard";
        std::string errors;
        while (const std::optional<std::string> line = window.ReadErrorLine(100)) {
            errors += *line + "\n";
        }
        if (errors.find("SIGINT and SIGTERM cannot be received") != std::string::npos) {
            ++refusals;
            EXPECT_EQ(ended, 1) << errors;
        }
        if (errors.find("The server cannot be set up (Windows socket error: " +
                        std::string(std::strerror(EMFILE)) +
                        " (24), on API 'eventfd'); not started") != std::string::npos) {
            ++serverRefusals;
            EXPECT_EQ(ended, 1) << errors;
        }
    }
    EXPECT_GT(refusals, 0) << "no limit made the termination signals' descriptor fail";
    EXPECT_GT(serverRefusals, 0) << "no limit made the server's wake-up descriptors fail";
}

}  // namespace
