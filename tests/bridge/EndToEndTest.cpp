// Both bridge programs end to end: real HTTP on loopback and the simulated slave on a
// pseudo-terminal. modbus-bridged's log is read from its standard output; the window runs
// offscreen, and its log is the subject of the window tests. The same cases run against the
// Windows builds under wine, modbus-bridged (WindowsHeadless) and the window (WindowsWindow, on
// the wine environment's display), whose COM port leads to the simulator's terminal, but for what
// wine does not model.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HttpClient.h"
#include "IniFile.h"
#include "PortHolder.h"
#include "RequestErrors.h"
#include "SpawnedProgram.h"
#include "UriCodec.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPort = 19284;
constexpr int kReplyBoundMs = 5000;
constexpr int kFirstWindowBoundMs = 30000;
const std::string kSeparator(48, '-');

std::string RequestJson(const std::string& pdu, int timeoutMs = 500,
                        const std::string& randString = "abc") {
    return R"({"company_id":1,"device_id":2,"slave_addr":1,"baud_rate":19200,"com_port":1,)"
           R"("poll_ms":1000,"timeout_ms":)" +
           std::to_string(timeoutMs) +
           R"(,"ctrl_echo":false,"ctrl_dtr":false,"ctrl_rts":false,"ctrl_invert":false,)"
           R"("rand_string":")" +
           randString + R"(","pdu":)" + pdu + "}";
}

Json::Value ParseBody(const std::optional<std::string>& response) {
    Json::Value value;
    if (!response) {
        return value;
    }
    const std::string body = ResponseBody(*response);
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    reader->parse(body.data(), body.data() + body.size(), &value, nullptr);
    return value;
}

// The text after the time stamp and TAB of a log line.
std::string LineText(const std::string& line) {
    const size_t tab = line.find('\t');
    return tab == std::string::npos ? line : line.substr(tab + 1);
}

struct TProgram {
    std::string Name;
    // The file name of the program's copy; its settings file is named after it.
    std::string File;
    std::string Path;
    bool PrintsLog;
    // The Windows build, started under wine through wine-run.sh.
    bool Windows = false;
    // The COM port of the wine prefix that leads to the simulator's terminal for a Windows
    // build; each program has its own, so that their tests may run side by side.
    int WineComPort = 0;
};

// By name: the default printer dumps the bytes, heap addresses and all, into the test names.
void PrintTo(const TProgram& program, std::ostream* out) {
    *out << program.Name;
}

// The lines of ss for sockets that listen on the port: local address in the fourth column.
std::vector<std::string> ListeningSockets() {
    TSpawnedProgram ss;
    std::vector<std::string> lines;
    if (!ss.Start(SS_PATH, {"-ltnH", "sport = :" + std::to_string(kPort)})) {
        return {"ss did not start"};
    }
    while (auto line = ss.ReadLine(kReplyBoundMs)) {
        lines.push_back(*line);
    }
    ss.WaitForExit(kReplyBoundMs);
    return lines;
}

std::vector<std::string> ListeningAddresses() {
    std::vector<std::string> addresses;
    for (const std::string& line : ListeningSockets()) {
        std::istringstream columns(line);
        std::string state, received, sent, local;
        columns >> state >> received >> sent >> local;
        addresses.push_back(local);
    }
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

// Waits until the program accepts connections on the port; the window prints nothing when it
// is ready, so the port itself is the sign.
bool WaitUntilListening(int boundMs, int port = kPort) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (std::chrono::steady_clock::now() < deadline) {
        THttpClient probe;
        if (probe.Connect(port)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// True when a process other than the device's own holds the terminal open: the bridge, or wine's
// server for a Windows program, had not closed the port.
bool HeldByAnotherProcess(const std::string& path, pid_t devicePid) {
    std::error_code error;
    const fs::path terminal = fs::canonical(path, error);
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == std::to_string(devicePid)) {
            continue;
        }
        std::error_code unreadable;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", unreadable)) {
            std::error_code gone;
            if (fs::read_symlink(fd.path(), gone) == terminal) {
                return true;
            }
        }
    }
    return false;
}

// True when another program can take the port for itself now: nobody else holds it open, and
// its lock is free (the Linux bridge's exclusive use).
bool PortIsFree(const std::string& path, pid_t devicePid) {
    if (HeldByAnotherProcess(path, devicePid)) {
        return false;
    }
    const int port = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (port < 0) {
        return false;
    }
    const bool free = flock(port, LOCK_EX | LOCK_NB) == 0;
    close(port);
    return free;
}

// True once the condition holds, looked at every few milliseconds within the reply bound.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyBoundMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A copy of the program in a folder of its own, with its settings file beside it.
class EndToEndTest : public ::testing::TestWithParam<TProgram> {
protected:
    void SetUp() override {
        // Another program on the port would answer in the bridge's place.
        if (const std::optional<std::string> holder = PortHolder(kPort)) {
            GTEST_FAIL() << "port " << kPort << " is taken: " << *holder;
        }
        if (!fs::exists(GetParam().Path)) {
            GTEST_FAIL() << GetParam().Path << " is missing (tools/build-windows.sh makes it)";
        }
        // A user's folder may have any name: the program finds its settings beside it.
        Folder = fs::temp_directory_path() /
                 ("e2e-тест-" + std::to_string(getpid()) + "-" + GetParam().Name);
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        fs::copy_file(GetParam().Path, ProgramFile());
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    void TearDown() override {
        StopBridge();
        if (Windows()) {
            fs::remove(WineComPortLink());
        }
        fs::remove_all(Folder);
    }

    bool PrintsLog() const { return GetParam().PrintsLog; }
    bool Windows() const { return GetParam().Windows; }
    fs::path ProgramFile() const { return Folder / GetParam().File; }
    fs::path SettingsFile() const {
        return Folder / fs::path(GetParam().File).replace_extension(".ini");
    }
    fs::path WineComPortLink() const {
        return fs::path(WINDOWS_BUILD_PATH) / "wine" / "dosdevices" /
               ("com" + std::to_string(GetParam().WineComPort));
    }

    // The program with the settings file in place; under wine, SIGINT ends it as Ctrl+C does.
    bool StartBridge(std::vector<std::string> arguments = {}) {
        if (!Windows()) {
            return Bridge.Start(ProgramFile().string(), arguments);
        }
        Bridge.SetStopSignal(SIGINT);
        arguments.insert(arguments.begin(), {WINDOWS_BUILD_PATH, ProgramFile().string()});
        return Bridge.Start(WINE_RUN_PATH, arguments);
    }

    // Ends the program as its users do: SIGINT (Ctrl+C) for modbus-bridged and the Linux window;
    // WM_CLOSE for the Windows window, which has no console. The program's exit code.
    std::optional<int> StopBridge() {
        if (Bridge.Pid() <= 0 || !Windows() || PrintsLog()) {
            return Bridge.Stop();
        }
        TSpawnedProgram driver;
        if (driver.Start(WINE_RUN_PATH, {WINDOWS_BUILD_PATH, WINDOW_DRIVER_PATH, "close",
                                         std::to_string(kReplyBoundMs)})) {
            driver.WaitForExit(2 * kReplyBoundMs);
        }
        if (std::optional<int> code = Bridge.WaitForExit(kReplyBoundMs)) {
            return code;
        }
        return Bridge.Stop();
    }

    // What a [Ports] line names for the device: its path, or under wine a COM port of the
    // prefix that leads to it.
    std::string PortSetting(const std::string& device) {
        if (!Windows()) {
            return device;
        }
        fs::remove(WineComPortLink());
        fs::create_symlink(device, WineComPortLink());
        return "\\\\.\\COM" + std::to_string(GetParam().WineComPort);
    }

    // The bridge's next line without its line end, which is CR LF from the Windows build.
    std::optional<std::string> ReadLine(int timeoutMs) {
        std::optional<std::string> line = Bridge.ReadLine(timeoutMs);
        if (line && Windows()) {
            EXPECT_TRUE(line->ends_with('\r')) << "not a CR LF line: " << *line;
            if (line->ends_with('\r')) {
                line->pop_back();
            }
        }
        return line;
    }

    // Starts the simulator and the bridge; the bridge's lines up to the end of its start.
    std::vector<std::string> Start(std::vector<std::string> simOptions,
                                   const std::string& options = "") {
        simOptions.push_back("--verbose");
        if (!Sim.Start(simOptions)) {
            ADD_FAILURE() << "simulator did not start";
            return {};
        }
        std::ofstream(SettingsFile())
            << "[Options]\n"
            << options << "[Ports]\nCOM1=" << PortSetting(Sim.Port) << "\n";
        if (!StartBridge()) {
            ADD_FAILURE() << "bridge did not start";
            return {};
        }
        return StartLines();
    }

    // The bridge's lines up to the end of its start, once it listens.
    std::vector<std::string> StartLines() {
        std::vector<std::string> lines;
        if (!PrintsLog()) {
            // Wine starts its desktop for a display with the first window shown there, which
            // takes seconds on a loaded machine.
            EXPECT_TRUE(WaitUntilListening(Windows() ? kFirstWindowBoundMs : kReplyBoundMs));
            return lines;
        }
        while (auto line = ReadLine(kReplyBoundMs)) {
            lines.push_back(*line);
            if (LineText(*line) == "Старт") {
                // The separator, then where the server listens and where its page is.
                for (int more = 0; more < 3; ++more) {
                    if (auto next = ReadLine(kReplyBoundMs)) {
                        lines.push_back(*next);
                    }
                }
                break;
            }
        }
        return lines;
    }

    // The texts of the bridge's next lines up to and including the one that contains text.
    std::vector<std::string> LinesUpTo(const std::string& text) {
        std::vector<std::string> texts;
        while (auto line = ReadLine(kReplyBoundMs)) {
            texts.push_back(LineText(*line));
            if (line->find(text) != std::string::npos) {
                break;
            }
        }
        return texts;
    }

    // Returns once the device has taken a request: the bridge is serving it.
    bool DeviceTookARequest() { return Sim.Process.WaitForLine("rx ", kReplyBoundMs).has_value(); }

    std::optional<std::string> Ask(THttpClient& client, const std::string& json) {
        if (!client.Send(PostRequest(json))) {
            return std::nullopt;
        }
        return client.ReadResponse(kReplyBoundMs);
    }

    fs::path Folder;
    TRunningSim Sim;
    TSpawnedProgram Bridge;
};

// Each program answers its command line before anything starts, the Linux window without a
// display: help and version on standard output, an unknown option (a Cyrillic one, which Windows
// must take from the wide command line) refused in one line with status 2. The faults: a program
// that starts serving on --help (modbus-bridged did), a window that needs a display to answer
// (the Linux one did), a refusal on standard output or with status 0, a file written beside it.
TEST_P(EndToEndTest, TheCommandLineIsAnsweredWithoutStartingAnything) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    const std::string name = fs::path(GetParam().File).stem().string();
    std::string settings = SettingsFile().string();
    if (Windows()) {
        std::replace(settings.begin(), settings.end(), '/', '\\');
        settings = "Z:" + settings;
    }
    const struct {
        std::vector<std::string> Arguments;
        int Status;
        std::string Out;
        std::string Err;
    } cases[] = {
        {{"--help"}, 0, "Settings file: " + settings, ""},
        {{"--version"}, 0, name + " " + MODBUS_BRIDGE_VERSION, ""},
        {{"--мост", "--help"},
         2,
         "",
         name + ": unknown option '--мост' (--help lists the options)"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Arguments.front());
        ASSERT_TRUE(StartBridge(row.Arguments));
        EXPECT_EQ(Bridge.WaitForExit(kFirstWindowBoundMs), row.Status) << "it started instead";
        std::vector<std::string> out;
        while (std::optional<std::string> line = ReadLine(100)) {
            out.push_back(*line);
        }
        EXPECT_EQ(std::find(out.begin(), out.end(), row.Out) != out.end(), !row.Out.empty());
        EXPECT_EQ(out.empty(), row.Out.empty());
        std::optional<std::string> err = Bridge.ReadErrorLine(100);
        if (err && Windows() && err->ends_with('\r')) {
            err->pop_back();
        }
        EXPECT_EQ(err.value_or(""), row.Err);
        EXPECT_EQ(std::distance(fs::directory_iterator(Folder), {}), 1) << "a file written";
        EXPECT_FALSE(PortHolder(kPort).has_value()) << "something listens";
    }
}

TEST_P(EndToEndTest, OneRequestWithItsLogLines) {
    const std::vector<std::string> start = Start({}, "ViewSet=1\nViewHex=0x1\n");
    if (PrintsLog()) {
        ASSERT_EQ(start.size(), 9U);
        EXPECT_EQ(start[0].size(), 19U) << "date line: " << start[0];
        std::vector<std::string> texts;
        for (size_t index = 1; index < start.size(); ++index) {
            texts.push_back(LineText(start[index]));
        }
        EXPECT_EQ(texts,
                  (std::vector<std::string>{
                      "RAVO Duridur - Modbus демонстрационный мост",
                      "Показывать Только ошибки: Отключено", "Показывать Параметры связи: Включено",
                      "Показывать НЕХ данные: Включено", "Старт", kSeparator,
                      "Сервер слушает порт 19284 только на 127.0.0.1 и ::1: запросы лишь "
                      "с этого компьютера",
                      "Страница моста: http://localhost:19284/demo/"}));
        EXPECT_EQ(start[1][2], ':');
        EXPECT_EQ(start[1][8], '.');
        EXPECT_EQ(start[1][12], '\t');
    }

    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    const auto response = Ask(client, RequestJson(R"({"a":[3,0,1,0,1]})"));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->rfind("HTTP/1.1 200 OK\r\n", 0), 0U);
    const Json::Value reply = ParseBody(response);
    EXPECT_EQ(reply["status"], "ok");
    EXPECT_EQ(reply["data"]["1"], 1);

    if (PrintsLog()) {
        EXPECT_EQ(
            LinesUpTo(kSeparator),
            (std::vector<std::string>{"Адрес: 1, Скорость: 19200 бод, Порт: COM1, Частота: "
                                      "1000 мс, Таймаут: 500 мс, ECHO: 0, DTR: 0, RTS: 0, "
                                      "Инвертирование: 0",
                                      ">> READ_HOLDING_REGISTER 010300010001D5CA",
                                      "<< READ_HOLDING_REGISTER 01030200017984", kSeparator}));
    }
}

TEST_P(EndToEndTest, ExceptionAnswerWithErrorsOnly) {
    const std::vector<std::string> start = Start({"--exception", "4"}, "ViewError=1\nViewSet=1\n");
    if (PrintsLog()) {
        ASSERT_EQ(start.size(), 7U);
        EXPECT_EQ(LineText(start[2]), "Показывать Только ошибки: Включено");
        EXPECT_EQ(LineText(start[3]), "Старт");
    }

    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    const Json::Value reply = ParseBody(Ask(client, RequestJson(R"({"a":[3,0,1,0,1]})")));
    EXPECT_EQ(reply["status"], "error");
    EXPECT_EQ(reply["error_code"], 4);
    EXPECT_EQ(reply["error_text"], ErrorText(4));
    if (PrintsLog()) {
        EXPECT_EQ(LineText(ReadLine(kReplyBoundMs).value_or("")), "Error[4] - " + ErrorText(4));
        // The reply is out before the next line could be written, so nothing more is coming.
        EXPECT_FALSE(ReadLine(300).has_value());
    }
}

TEST_P(EndToEndTest, TwoRequestsOnOneConnectionAndCurlAsAClient) {
    Start({});
    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    EXPECT_EQ(ParseBody(Ask(client, RequestJson(R"({"a":[3,0,2,0,1]})")))["data"]["2"], 2);
    EXPECT_EQ(ParseBody(Ask(client, RequestJson(R"({"a":[4,0,3,0,1]})")))["data"]["3"], 0x1003);

    const fs::path json = Folder / "request.json";
    std::ofstream(json) << RequestJson(R"({"a":[3,0,7,0,1]})", 500, "строка&+%");
    TSpawnedProgram curl;
    // curl form-encodes a space as "+", which the bridge keeps as it is: the text has none.
    ASSERT_TRUE(curl.Start(CURL_PATH, {"-s", "-w", "\n", "-H", "Expect:", "--data-urlencode",
                                       "json_data@" + json.string(),
                                       "http://127.0.0.1:" + std::to_string(kPort) + "/"}));
    std::string output;
    while (auto line = curl.ReadLine(kReplyBoundMs)) {
        output += *line;
    }
    EXPECT_EQ(curl.WaitForExit(kReplyBoundMs), 0);
    Json::Value reply;
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    ASSERT_TRUE(reader->parse(output.data(), output.data() + output.size(), &reply, nullptr))
        << output;
    EXPECT_EQ(reply["status"], "ok");
    EXPECT_EQ(reply["data"]["7"], 7);
    EXPECT_EQ(reply["rand_string"], "строка&+%");
}

TEST_P(EndToEndTest, RequestWhileOneIsServedGetsTheBusyLinesAndNoReply) {
    Start({"--delay", "600"});
    THttpClient first;
    THttpClient second;
    ASSERT_TRUE(first.Connect(kPort));
    ASSERT_TRUE(second.Connect(kPort));
    ASSERT_TRUE(first.Send(PostRequest(RequestJson(R"({"a":[3,0,0,0,1]})", 2000))));
    ASSERT_TRUE(DeviceTookARequest());

    ASSERT_TRUE(second.Send(PostRequest(RequestJson(R"({"a":[3,0,0,0,1]})"))));
    if (PrintsLog()) {
        const std::vector<std::string> lines = LinesUpTo("Нужно");
        ASSERT_GE(lines.size(), 2U);
        EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
                  (std::vector<std::string>{
                      "Предыдущая команда не обработана ...",
                      "Нужно в браузере на странице Демо в параметрах связи увеличить время "
                      "частоты опроса!"}));
    }
    EXPECT_EQ(ParseBody(first.ReadResponse(kReplyBoundMs))["status"], "ok");
    EXPECT_TRUE(second.StaysSilent(300));
}

// With the queue on, clients that ask at once are each answered, once and with their own data,
// and the line carries one exchange at a time: the device tells of a request that reaches it
// while it answers. The faults: a waiting request lost, answered twice or on another client's
// connection; two exchanges on the line at once.
TEST_P(EndToEndTest, WithAQueueClientsAskingAtOnceAreEachAnsweredOnceOneExchangeAtATime) {
    constexpr int kClients = 5;
    constexpr int kRounds = 3;
    Start({"--delay", "20"}, "[Server]\nQueue=8\n");
    std::vector<std::unique_ptr<THttpClient>> clients;
    for (int client = 0; client < kClients; ++client) {
        clients.push_back(std::make_unique<THttpClient>());
        ASSERT_TRUE(clients.back()->Connect(kPort));
    }
    for (int round = 0; round < kRounds; ++round) {
        for (int client = 0; client < kClients; ++client) {
            const std::string pdu = R"({"a":[3,0,)" + std::to_string(client) + ",0,1]}";
            ASSERT_TRUE(clients[static_cast<size_t>(client)]->Send(PostRequest(
                RequestJson(pdu, 2000, std::to_string(client) + "/" + std::to_string(round)))));
        }
        for (int client = 0; client < kClients; ++client) {
            const Json::Value reply =
                ParseBody(clients[static_cast<size_t>(client)]->ReadResponse(kFirstWindowBoundMs));
            EXPECT_EQ(reply["status"], "ok") << client << "/" << round;
            EXPECT_EQ(reply["rand_string"], std::to_string(client) + "/" + std::to_string(round));
            EXPECT_EQ(reply["data"][std::to_string(client)], client);
        }
    }
    for (const std::unique_ptr<THttpClient>& client : clients) {
        EXPECT_TRUE(client->StaysSilent(200));
    }
    int requests = 0;
    while (const std::optional<std::string> line = Sim.Process.ReadLine(500)) {
        EXPECT_FALSE(line->starts_with("overlap")) << *line;
        requests += line->starts_with("rx ") ? 1 : 0;
    }
    EXPECT_EQ(requests, kClients * kRounds);
}

// A client that keeps sending while a request is served cannot fill the log: the busy lines
// come at most ten pairs a second, and a count line tells of the rest.
TEST_P(EndToEndTest, ABurstOfRequestsDuringASlowOneHasItsBusyLinesLimited) {
    if (!PrintsLog()) {
        GTEST_SKIP() << "the window's log lines are the subject of the window tests";
    }
    constexpr int kDelayMs = 5000;
    constexpr int kBurst = 1000;
    Start({"--delay", std::to_string(kDelayMs)});
    THttpClient slow;
    ASSERT_TRUE(slow.Connect(kPort));
    ASSERT_TRUE(slow.Send(PostRequest(RequestJson(R"({"a":[3,0,0,0,1]})", 2 * kDelayMs))));
    ASSERT_TRUE(DeviceTookARequest());

    const std::string request = PostRequest(RequestJson(R"({"a":[3,0,1,0,1]})"));
    const auto burstStart = std::chrono::steady_clock::now();
    int sent = 0;
    for (int index = 0; index < kBurst; ++index) {
        THttpClient client;
        sent += client.Connect(kPort) && client.Send(request) ? 1 : 0;
    }
    const auto burstTook = std::chrono::steady_clock::now() - burstStart;
    EXPECT_EQ(sent, kBurst);
    // The whole burst and the second after it fall within the slow request, so every count
    // line is out before the slow request's last line.
    ASSERT_LT(burstTook, std::chrono::milliseconds(kDelayMs / 2)) << "the burst was too slow";

    std::map<std::string, int> busyLinesPerSecond;
    int busyLines = 0;
    int advice = 0;
    uint64_t counted = 0;
    const std::string countLine =
        "Ещё запросов во время обработки предыдущей команды без строки в журнале: ";
    while (auto line = ReadLine(2 * kDelayMs)) {
        const std::string text = LineText(*line);
        if (text == kSeparator) {
            break;
        }
        if (text == "Предыдущая команда не обработана ...") {
            ++busyLines;
            ++busyLinesPerSecond[line->substr(0, 8)];
        } else if (text.starts_with("Нужно в браузере")) {
            ++advice;
        } else if (text.starts_with(countLine)) {
            counted += std::stoull(text.substr(countLine.size()));
        }
    }
    EXPECT_EQ(ParseBody(slow.ReadResponse(kReplyBoundMs))["status"], "ok");
    EXPECT_GE(busyLines, 1);
    EXPECT_EQ(advice, busyLines);
    for (const auto& [second, lines] : busyLinesPerSecond) {
        EXPECT_LE(lines, 12) << "busy lines at " << second;
    }
    // The rest were counted. Not all 1,000: when the burst outruns the server, connections
    // beyond its limit give way before their data is read.
    EXPECT_GE(counted, 100U) << busyLines << " busy lines";
}

TEST_P(EndToEndTest, ClosingAnIdleConnectionLeavesTheRequestRunning) {
    Start({"--delay", "400"});
    THttpClient idle;
    THttpClient served;
    ASSERT_TRUE(idle.Connect(kPort));
    ASSERT_TRUE(served.Connect(kPort));
    ASSERT_TRUE(served.Send(PostRequest(RequestJson(R"({"a":[3,0,0,0,1]})", 2000))));
    ASSERT_TRUE(DeviceTookARequest());
    idle.Close();
    EXPECT_EQ(ParseBody(served.ReadResponse(kReplyBoundMs))["status"], "ok");
}

TEST_P(EndToEndTest, ClosingTheServedConnectionStopsTheRequestAndFreesThePort) {
    Start({"--silent"});
    THttpClient served;
    ASSERT_TRUE(served.Connect(kPort));
    ASSERT_TRUE(served.Send(PostRequest(RequestJson(R"({"a":[3,0,0,0,1]})", 60000))));
    ASSERT_TRUE(DeviceTookARequest());
    served.Close();
    // The closing itself stops the request: the port is free before anything else comes.
    EXPECT_TRUE(Eventually([&] { return PortIsFree(Sim.Port, Sim.Process.Pid()); }));

    THttpClient next;
    ASSERT_TRUE(next.Connect(kPort));
    const Json::Value reply = ParseBody(Ask(next, RequestJson(R"({"a":[3,0,0,0,1]})", 300)));
    EXPECT_EQ(reply["error_code"], ErrorCode::AnswerTimeout);
    if (PrintsLog()) {
        // The stopped request wrote no error of its own.
        const std::vector<std::string> lines = LinesUpTo("Error[");
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& text) { return text.starts_with("Error["); }),
                  1);
    }
    EXPECT_TRUE(PortIsFree(Sim.Port, Sim.Process.Pid()));
}

TEST_P(EndToEndTest, RequestInPiecesIsServedWholeAndAnUnfinishedOneAfterASecond) {
    Start({});
    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    // A body above a segment's size, sent after the header block as a browser does.
    const std::string request =
        PostRequest(RequestJson(R"({"a":[3,0,4,0,1]})", 500, std::string(3000, 'x')));
    const size_t bodyStart = request.find("\r\n\r\n") + 4;
    ASSERT_TRUE(client.Send(request.substr(0, bodyStart)));
    ASSERT_TRUE(client.StaysSilent(200));
    ASSERT_TRUE(client.Send(request.substr(bodyStart)));
    const Json::Value reply = ParseBody(client.ReadResponse(kReplyBoundMs));
    EXPECT_EQ(reply["status"], "ok");
    EXPECT_EQ(reply["rand_string"].asString().size(), 3000U);

    ASSERT_TRUE(client.Send("POST / HTTP/1.1\r\nHost: localhost:19284\r\n"));
    EXPECT_EQ(ParseBody(client.ReadResponse(kReplyBoundMs))["error_code"], ErrorCode::NoHeaderEnd);
}

TEST_P(EndToEndTest, TerminationStopsARunningRequestAndFreesThePort) {
    Start({"--silent"});
    THttpClient served;
    ASSERT_TRUE(served.Connect(kPort));
    ASSERT_TRUE(served.Send(PostRequest(RequestJson(R"({"a":[3,0,0,0,1]})", 60000))));
    ASSERT_TRUE(DeviceTookARequest());
    EXPECT_EQ(StopBridge(), 0);
    if (!PrintsLog()) {
        // The window closed as "Выход" closes it: its placement was stored.
        EXPECT_TRUE(TIniFile(SettingsFile().string()).HasValue("Options", "WindowsTop"));
    }
    EXPECT_TRUE(served.StaysSilent(100));
    EXPECT_TRUE(PortIsFree(Sim.Port, Sim.Process.Pid()));
}

// The operator restarts the bridge at once (after editing its settings, say) while a page still
// holds a connection: the new copy listens and serves. Started right after the last run ended, it
// meets that run's connection: with exclusive use, Windows refuses the port while one lingers.
// Started while the last run ends (its window gone, its shutdown's pause not over), it meets the
// last run's listening sockets, which go a moment later.
TEST_P(EndToEndTest, ARestartAtOnceListensAndServes) {
    enum class TMoment { AfterTheEnd, WhileItEnds };
    Start({});
    const std::string json = RequestJson(R"({"a":[3,0,0,0,1]})");
    for (const TMoment moment : {TMoment::AfterTheEnd, TMoment::WhileItEnds}) {
        const bool whileItEnds = moment == TMoment::WhileItEnds;
        SCOPED_TRACE(whileItEnds ? "while the last run ends" : "after the last run ended");
        // The window driver finds the Windows window by its class, so it could not tell which
        // of two copies to close.
        if (whileItEnds && Windows() && !PrintsLog()) {
            continue;
        }
        THttpClient page;
        ASSERT_TRUE(page.Connect(kPort));
        ASSERT_EQ(ParseBody(Ask(page, json))["status"], "ok");
        std::optional<TSpawnedProgram> lastRun;
        if (whileItEnds) {
            lastRun.emplace(std::move(Bridge));
            lastRun->RequestStop();
        } else {
            ASSERT_EQ(StopBridge(), 0);
        }
        const auto ended = std::chrono::steady_clock::now();
        ASSERT_TRUE(StartBridge());
        RecordProperty(whileItEnds ? "ms_from_stop_request_to_restart" : "ms_from_end_to_restart",
                       static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - ended)
                                            .count()));
        // Until it ends, the last run may still take connections that it never answers.
        if (whileItEnds) {
            EXPECT_EQ(lastRun->WaitForExit(kReplyBoundMs), 0);
        }
        const std::vector<std::string> start = StartLines();
        if (PrintsLog()) {
            ASSERT_GE(start.size(), 2U) << Bridge.ReadErrorLine(kReplyBoundMs).value_or("");
            EXPECT_TRUE(LineText(start[start.size() - 2]).starts_with("Сервер слушает порт 19284"))
                << start[start.size() - 2];
        }
        THttpClient next;
        ASSERT_TRUE(next.Connect(kPort));
        EXPECT_EQ(ParseBody(Ask(next, json))["status"], "ok");
    }
}

struct TFault {
    std::string Name;
    std::vector<std::string> SimOptions;
    bool Echo;
    int TimeoutMs;
    int Expected;
};

// Every fault of the line gives its code, nothing hangs, and the port is free after each request.
// The bridge keeps running across all of them; each device comes up behind the same link.
TEST_P(EndToEndTest, FaultsOnTheLineGiveTheirCodesAndLeaveThePortFree) {
    const std::string link = (Folder / "device").string();
    const std::vector<TFault> faults = {
        {"clean line", {}, false, 500, ErrorCode::None},
        {"noise", {"--noise", "60"}, false, 500, ErrorCode::None},
        {"answer in pieces", {"--pieces", "5", "--gap", "20"}, false, 500, ErrorCode::None},
        {"slow device within the time-out", {"--delay", "300"}, false, 1000, ErrorCode::None},
        {"slow device beyond the time-out",
         {"--delay", "700"},
         false,
         300,
         ErrorCode::AnswerTimeout},
        {"echo removed", {"--echo"}, true, 500, ErrorCode::None},
        // The echo repeats the request, whose address field is no byte count.
        {"echo taken for the answer", {"--echo"}, false, 500, ErrorCode::BadLength},
        {"echo option without an echo", {}, true, 500, ErrorCode::None},
        {"wrong address", {"--wrong-address"}, false, 300, ErrorCode::AnswerTimeout},
        {"damaged CRC", {"--bad-crc"}, false, 300, ErrorCode::AnswerTimeout},
        {"silence", {"--silent"}, false, 300, ErrorCode::AnswerTimeout},
        {"flood of 3000 bytes", {"--noise", "3000"}, false, 500, ErrorCode::AnswerTimeout},
    };
    std::vector<TFault> all = faults;
    for (int code = 1; code <= 8; ++code) {
        all.push_back({"exception " + std::to_string(code),
                       {"--exception", std::to_string(code)},
                       false,
                       500,
                       code});
    }

    bool bridgeStarted = false;
    for (const TFault& fault : all) {
        SCOPED_TRACE(fault.Name);
        TRunningSim device;
        std::vector<std::string> options = fault.SimOptions;
        options.insert(options.end(), {"--link", link});
        ASSERT_TRUE(device.Start(options));
        if (!bridgeStarted) {
            std::ofstream(SettingsFile()) << "[Ports]\nCOM1=" << PortSetting(link) << "\n";
            ASSERT_TRUE(StartBridge());
            ASSERT_TRUE(WaitUntilListening(kReplyBoundMs));
            bridgeStarted = true;
        }
        std::string json = RequestJson(R"({"a":[3,0,0,0,2]})", fault.TimeoutMs);
        if (fault.Echo) {
            json.replace(json.find("\"ctrl_echo\":false"), 17, "\"ctrl_echo\":true");
        }
        THttpClient client;
        ASSERT_TRUE(client.Connect(kPort));
        const Json::Value reply = ParseBody(Ask(client, json));
        EXPECT_EQ(reply["error_code"], fault.Expected) << reply.toStyledString();
        if (fault.Expected == ErrorCode::None) {
            EXPECT_EQ(reply["data"]["1"], 1);
        }
        EXPECT_TRUE(PortIsFree(link, device.Process.Pid()));
        device.Process.Stop();
    }

    // The device vanishes while the bridge waits for its answer: its terminal is gone.
    TRunningSim vanishing;
    ASSERT_TRUE(vanishing.Start({"--silent", "--verbose", "--link", link}));
    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    ASSERT_TRUE(client.Send(PostRequest(RequestJson(R"({"a":[3,0,0,0,2]})", 5000))));
    ASSERT_TRUE(vanishing.Process.WaitForLine("rx ", kReplyBoundMs));
    vanishing.Process.Stop();
    EXPECT_EQ(ParseBody(client.ReadResponse(kReplyBoundMs))["error_code"],
              ErrorCode::AnswerTimeout);

    // Another program holds the port. Wine opens a COM port whoever holds it (Windows refuses a
    // second opening): that part is for real Windows to show.
    TRunningSim held;
    ASSERT_TRUE(held.Start({"--link", link}));
    if (!Windows()) {
        const int holder = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(ParseBody(Ask(client, RequestJson(R"({"a":[3,0,0,0,2]})")))["error_code"],
                  ErrorCode::PortOpen);
        close(holder);
    }
    EXPECT_EQ(ParseBody(Ask(client, RequestJson(R"({"a":[3,0,0,0,2]})")))["error_code"],
              ErrorCode::None);
}

std::string RawPost(const std::string& headers, const std::string& body) {
    return "POST / HTTP/1.1\r\n" + headers + "Content-Type: application/x-www-form-urlencoded\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string WithComPort(const std::string& json, int comPort) {
    std::string changed = json;
    const std::string from = "\"com_port\":1,";
    changed.replace(changed.find(from), from.size(),
                    "\"com_port\":" + std::to_string(comPort) + ",");
    return changed;
}

const std::string kRefusedBody =
    R"({"error_code":125,"error_text":"Запрос отклонён настройками доступа моста",)"
    R"("status":"error"})";

TEST_P(EndToEndTest, ListensOnLoopbackOnlyByDefault) {
    Start({});
    EXPECT_EQ(ListeningAddresses(), (std::vector<std::string>{"127.0.0.1:19284", "[::1]:19284"}));
}

TEST_P(EndToEndTest, ListenAnyListensOnEveryInterface) {
    const std::vector<std::string> start = Start({}, "[Server]\nListen=any\n");
    EXPECT_EQ(ListeningAddresses(), std::vector<std::string>{"*:19284"});
    if (PrintsLog()) {
        ASSERT_GE(start.size(), 2U);
        EXPECT_EQ(LineText(start[start.size() - 2]),
                  "Сервер слушает порт 19284 на всех интерфейсах (Listen=any)");
    }
    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    const std::string json = RequestJson(R"({"a":[3,0,0,0,1]})");
    ASSERT_TRUE(client.Send(RawPost("Host: 127.0.0.1:19284\r\n", "json_data=" + UriEncode(json))));
    EXPECT_EQ(ParseBody(client.ReadResponse(kReplyBoundMs))["status"], "ok");
}

// What a hostile page or a rebinding name sends with the defaults: refused, with the three
// members only, and nothing reaches the device; ten lines a second, then a count.
TEST_P(EndToEndTest, HostileRequestsAreRefusedBeforeAnythingIsSent) {
    Start({}, "ViewError=1\n");
    const std::string body =
        "json_data=" + UriEncode(RequestJson(R"({"a":[6,0,1,0,42]})", 500, "echo-me"));
    const std::string hostile[] = {
        "Host: localhost.evil.example:19284\r\n",
        "Host: 127.0.0.1.nip.io:19284\r\n",
        "Host: localhost6:19284\r\n",
        "Host: localhost.localdomain:19284\r\n",
        "Host: 0x7f.1:19284\r\n",
        "Host: 017700000001:19284\r\n",
        "Host: 127.1:19284\r\n",
        "Host: localhost:8080\r\n",
        "Host: localhost:19284\r\nHost: localhost:19284\r\n",
        "Host: 127.0.0.1:19284\r\nSec-Fetch-Mode: navigate\r\nOrigin: https://evil.example\r\n",
        "Host: 127.0.0.1:19284\r\nSec-Fetch-Mode: nested-navigate\r\n",
        "Host: 127.0.0.1:19284\r\nSec-Fetch-Mode: no-cors\r\n",
        "Host: rebound.evil.example:19284\r\nSec-Fetch-Mode: cors\r\n",
    };
    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    for (const std::string& headers : hostile) {
        ASSERT_TRUE(client.Send(RawPost(headers, body)));
        const std::optional<std::string> response = client.ReadResponse(kReplyBoundMs);
        ASSERT_TRUE(response) << headers;
        EXPECT_EQ(ResponseBody(*response), kRefusedBody) << headers;
        EXPECT_NE(response->find("\r\nAccess-Control-Allow-Origin: *\r\n"), std::string::npos);
    }
    // The bridge's own page is served, and its frame is the first the device takes.
    const std::string read = RequestJson(R"({"a":[3,0,68,0,1]})");
    ASSERT_TRUE(client.Send(RawPost(
        "Host: localhost:19284\r\nOrigin: http://localhost:19284\r\nSec-Fetch-Mode: cors\r\n",
        "json_data=" + UriEncode(read))));
    EXPECT_EQ(ParseBody(client.ReadResponse(kReplyBoundMs))["data"]["68"], 0x44);
    const std::optional<std::string> first = Sim.Process.WaitForLine("rx ", kReplyBoundMs);
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("rx 010300440001"), std::string::npos) << *first;

    if (PrintsLog()) {
        const std::vector<std::string> lines = LinesUpTo("Отклонено ещё");
        ASSERT_EQ(lines.size(), 11U);
        EXPECT_EQ(lines[0],
                  "Error[125] - Запрос отклонён настройками доступа моста: Host не называет этот "
                  "компьютер (адрес 127.0.0.1, Host: localhost.evil.example:19284, Origin: -)");
        EXPECT_EQ(lines[8],
                  "Error[125] - Запрос отклонён настройками доступа моста: два заголовка Host "
                  "(адрес 127.0.0.1, Host: localhost:19284, Origin: -)");
        EXPECT_EQ(lines[9],
                  "Error[125] - Запрос отклонён настройками доступа моста: переход страницы или "
                  "no-cors (Sec-Fetch-Mode) (адрес 127.0.0.1, Host: 127.0.0.1:19284, Origin: "
                  "https://evil.example)");
        EXPECT_EQ(lines[10], "Отклонено ещё запросов без строки в журнале: 3");
    }
}

// A client that keeps asking for the page's script and reads none of it, its own receive buffer
// small, is closed before the answers pile up in the bridge, and the bridge serves on. The fault:
// every answer kept for a peer that never takes it, 44 KB for each request of 50 bytes, until
// the memory runs out. Its requests come a millisecond apart, each on its own, as a flood does.
TEST_P(EndToEndTest, AClientThatReadsNoneOfItsAnswersIsClosedAndTheBridgeServesOn) {
    Start({});
    const int flood = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(flood, 0);
    const int smallBuffer = 4096;
    setsockopt(flood, SOL_SOCKET, SO_RCVBUF, &smallBuffer, sizeof smallBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(flood, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /demo/demo.js HTTP/1.1\r\nHost: localhost:19284\r\n\r\n";
    constexpr int kMostRequests = 3000;
    int sent = 0;
    int refusal = 0;
    for (; sent < kMostRequests && refusal == 0; ++sent) {
        if (send(flood, request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
            refusal = errno;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(flood);
    EXPECT_TRUE(refusal == ECONNRESET || refusal == EPIPE)
        << sent << " requests sent, then: " << std::strerror(refusal);

    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    EXPECT_EQ(ParseBody(Ask(client, RequestJson(R"({"a":[3,0,68,0,1]})")))["data"]["68"], 0x44);
}

TEST_P(EndToEndTest, OriginsListAndKeyServeOnlyTheListedPageWithItsKey) {
    Start({},
          "[Server]\nOrigins=list\nKey=k 1+&x\n[Origins]\nhttps://scada.example=1\n"
          "https://old.example=0\n");
    const std::string json = "json_data=" + UriEncode(RequestJson(R"({"a":[3,0,2,0,1]})"));
    const std::string rightKey = "key=" + UriEncode("k 1+&x") + "&";
    struct TRow {
        std::string Origin;
        std::string Body;
        int Code;
    };
    const TRow rows[] = {
        {"Origin: https://scada.example\r\n", rightKey + json, 0},
        {"", rightKey + json, 0},
        {"Origin: https://scada.example\r\n", json, 125},
        {"Origin: https://scada.example\r\n", "key=k%201%2B&" + json, 125},
        {"Origin: https://scada.example\r\n", json + "&" + rightKey, 125},
        {"Origin: https://old.example\r\n", rightKey + json, 125},
        {"Origin: https://evil.example\r\n", rightKey + json, 125},
        {"Origin: null\r\n", rightKey + json, 125},
        // Access comes before the framing: a refused page cannot reach the worker's 106 and its
        // lines by leaving out its form field.
        {"Origin: https://evil.example\r\n", rightKey + "abc=1", 125},
        {"Origin: https://scada.example\r\n", "key=x&abc=1", 125},
        {"Origin: https://scada.example\r\n", rightKey + "abc=1", ErrorCode::NoJsonData},
    };
    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    for (const TRow& row : rows) {
        ASSERT_TRUE(client.Send(RawPost("Host: localhost:19284\r\n" + row.Origin, row.Body)));
        const std::optional<std::string> response = client.ReadResponse(kReplyBoundMs);
        ASSERT_TRUE(response) << row.Origin << row.Body;
        EXPECT_EQ(ParseBody(response)["error_code"], row.Code) << row.Origin << row.Body;
        if (row.Code == 125) {
            EXPECT_EQ(ResponseBody(*response), kRefusedBody);
        }
    }
    if (PrintsLog()) {
        // One line for the first request of each origin, whatever its verdict.
        const std::vector<std::string> lines = LinesUpTo("Первый запрос со страницы null");
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "Первый запрос со страницы https://scada.example"),
                  1);
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "Первый запрос со страницы https://evil.example"),
                  1);
    }
}

// com_port is reduced to its low byte before the policy applies; every PDU is looked at before
// the port is opened, so a read followed by a write sends nothing.
TEST_P(EndToEndTest, PortPolicyRefusesBeforeThePortIsOpened) {
    Start({}, "ViewError=1\n[Server]\nUnmappedPorts=deny\nReadOnlyPorts=COM1\n");
    struct TRow {
        int ComPort;
        std::string Pdu;
        int Code;
    };
    const TRow rows[] = {
        {257, R"({"a":[3,0,0,0,1],"b":[6,0,1,0,42]})", 126},
        {1, R"({"a":[16,0,1,0,1,2,0,42]})", 126},
        {3, R"({"a":[3,0,0,0,1]})", 126},
        {259, R"({"a":[3,0,0,0,1]})", 126},
        {257, R"({"a":[3,0,69,0,1]})", 0},
    };
    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    for (const TRow& row : rows) {
        const Json::Value reply =
            ParseBody(Ask(client, WithComPort(RequestJson(row.Pdu, 500, "p"), row.ComPort)));
        EXPECT_EQ(reply["error_code"], row.Code) << row.ComPort << row.Pdu;
        EXPECT_EQ(reply["rand_string"], "p");
    }
    const std::optional<std::string> first = Sim.Process.WaitForLine("rx ", kReplyBoundMs);
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("rx 010300450001"), std::string::npos) << *first;
    if (PrintsLog()) {
        EXPECT_EQ(LineText(ReadLine(kReplyBoundMs).value_or("")),
                  "Error[126] - Порт или функция запрещены настройками моста: COM1 только для "
                  "чтения, функция 6 (адрес 127.0.0.1, Host: localhost:19284, Origin: -)");
        EXPECT_EQ(LineText(ReadLine(kReplyBoundMs).value_or("")),
                  "Error[126] - Порт или функция запрещены настройками моста: COM1 только для "
                  "чтения, функция 16 (адрес 127.0.0.1, Host: localhost:19284, Origin: -)");
        EXPECT_EQ(LineText(ReadLine(kReplyBoundMs).value_or("")),
                  "Error[126] - Порт или функция запрещены настройками моста: COM3 нет в разделе "
                  "Ports (адрес 127.0.0.1, Host: localhost:19284, Origin: -)");
    }
}

std::string SourceFile(const std::string& path) {
    std::ifstream file(std::string(PROJECT_SOURCE_PATH) + "/" + path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// The page's files byte for byte, under their fixed paths only; every other GET passes the access
// checks first, like a POST: a browser's navigation to it is refused (125), a program's gets 103
// as before, and a foreign Host is refused. The page is answered also while a request is served.
TEST_P(EndToEndTest, ThePageAndItsFilesAreServedAndNothingBesideThem) {
    Start({"--delay", "300"});
    struct TRow {
        const char* Name;
        std::string Target;
        // The page's answers: the status line and, for 200, the file of the source tree; empty
        // for a JSON reply with its error code.
        std::string Status;
        std::string File;
        int Code = 0;
        std::string Host = "localhost:19284";
        // As a browser opens a page; else as curl asks.
        bool Navigation = true;
    };
    const std::string longName(60000, 'a');
    const TRow rows[] = {
        {"the page", "/demo/", "200 OK", "web/index.html"},
        {"the page by its name", "/demo/index.html", "200 OK", "web/index.html"},
        {"its script", "/demo/demo.js", "200 OK", "web/demo.js"},
        {"its style", "/demo/demo.css", "200 OK", "web/demo.css"},
        {"the client library", "/demo/client/modbus-bridge.js", "200 OK",
         "web/client/modbus-bridge.js"},
        {"its icon", "/demo/icon.svg?v=1", "200 OK", "packaging/modbus-bridge.svg"},
        {"the folder without its slash", "/demo", "302 Found", ""},
        {"dot segments", "/demo/../README.md", "404 Not Found", ""},
        {"encoded dot segments", "/demo/%2e%2e/%2e%2e/etc/passwd", "404 Not Found", ""},
        {"an absolute path below the page", "/demo//etc/passwd", "404 Not Found", ""},
        {"a very long path below the page", "/demo/" + longName, "404 Not Found", ""},
        {"an absolute path", "/etc/passwd", "", "", ErrorCode::AccessRefused},
        {"an absolute-form target", "http://localhost:19284/demo/", "", "",
         ErrorCode::AccessRefused},
        {"the root", "/", "", "", ErrorCode::AccessRefused},
        {"the root from a program", "/", "", "", ErrorCode::NoPostLine, "localhost:19284", false},
        {"a very long path from a program", "/" + longName, "", "", ErrorCode::NoPostLine,
         "localhost:19284", false},
        {"a foreign Host", "/demo/", "", "", ErrorCode::AccessRefused,
         "rebound.evil.example:19284"},
        {"another port", "/demo/", "", "", ErrorCode::AccessRefused, "localhost:8080"},
    };
    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(client.Send(
            "GET " + row.Target + " HTTP/1.1\r\nHost: " + row.Host + "\r\n" +
            (row.Navigation ? "Sec-Fetch-Mode: navigate\r\nSec-Fetch-Dest: document\r\n" : "") +
            "\r\n"));
        if (row.Status.empty()) {
            EXPECT_EQ(ParseBody(client.ReadResponse(kReplyBoundMs))["error_code"], row.Code);
            continue;
        }
        const std::optional<std::string> response = client.ReadPageResponse(kReplyBoundMs);
        ASSERT_TRUE(response);
        EXPECT_TRUE(response->starts_with("HTTP/1.1 " + row.Status + "\r\n")) << *response;
        if (!row.File.empty()) {
            const std::string body = response->substr(response->find("\r\n\r\n") + 4);
            EXPECT_TRUE(body == SourceFile(row.File)) << body.size() << " bytes";
        }
    }

    THttpClient served;
    ASSERT_TRUE(served.Connect(kPort));
    ASSERT_TRUE(served.Send(PostRequest(RequestJson(R"({"a":[3,0,0,0,1]})", 2000))));
    ASSERT_TRUE(DeviceTookARequest());
    ASSERT_TRUE(client.Send("GET /demo/demo.css HTTP/1.1\r\nHost: localhost:19284\r\n\r\n"));
    const std::optional<std::string> whileBusy = client.ReadPageResponse(kReplyBoundMs);
    ASSERT_TRUE(whileBusy);
    EXPECT_TRUE(whileBusy->ends_with("\r\n\r\n" + SourceFile("web/demo.css")));
    EXPECT_EQ(ParseBody(served.ReadResponse(kReplyBoundMs))["status"], "ok");
}

std::string FromOrigin(const std::string& origin, const std::string& json) {
    return RawPost("Host: localhost:19284\r\n" +
                       (origin.empty() ? "" : "Origin: " + origin + "\r\n") +
                       "Sec-Fetch-Mode: cors\r\n",
                   "json_data=" + UriEncode(json));
}

std::string AdviceLine(const std::string& origin) {
    return "Чтобы разрешить странице " + origin +
           " управлять устройствами, добавьте в раздел [Origins] файла настроек строку " + origin +
           "=1 и перезапустите мост";
}

// modbus-bridged reads [Origins] again when asked, without a restart: SIGHUP on Linux, and
// `modbus-bridged.exe --reload` on Windows. A site taken out of the file is refused from the next
// request, one still listed is served; a folder in the file's place keeps the list and says why.
// The faults: a list read only at the start, a reload that is not applied to the next request,
// a failed read that empties the list (the listed site would be refused) or passes for a reload.
TEST_P(EndToEndTest, TheSitesAreReadAgainWithoutARestart) {
    if (!PrintsLog()) {
        GTEST_SKIP() << "the window's sites are changed in its dialog";
    }
    // Each answer comes late, so that a request is being served when the list changes.
    Start({"--delay", "300"},
          "[Server]\nOrigins=list\n[Origins]\nhttps://a.example=1\nhttps://b.example=1\n");
    const auto reload = [this] {
        if (!Windows()) {
            return kill(Bridge.Pid(), SIGHUP) == 0;
        }
        TSpawnedProgram asking;
        return asking.Start(WINE_RUN_PATH,
                            {WINDOWS_BUILD_PATH, ProgramFile().string(), "--reload"}) &&
               asking.WaitForExit(2 * kReplyBoundMs) == 0;
    };
    const auto code = [this](const std::string& origin) {
        THttpClient client;
        if (!client.Connect(kPort) ||
            !client.Send(FromOrigin(origin, RequestJson(R"({"a":[3,0,3,0,1]})")))) {
            return Json::Value("no connection");
        }
        return ParseBody(client.ReadResponse(kReplyBoundMs))["error_code"];
    };
    const std::string reread = "Список сайтов перечитан из ";
    EXPECT_EQ(code("https://a.example"), 0);
    ASSERT_TRUE(DeviceTookARequest());

    // The request being served when the list changes finishes as it began.
    THttpClient served;
    ASSERT_TRUE(served.Connect(kPort));
    ASSERT_TRUE(served.Send(FromOrigin("https://a.example", RequestJson(R"({"a":[3,0,3,0,1]})"))));
    ASSERT_TRUE(DeviceTookARequest());
    std::ofstream(SettingsFile(), std::ios::trunc)
        << "[Server]\nOrigins=list\n[Origins]\nhttps://b.example=1\n[Ports]\nCOM1="
        << PortSetting(Sim.Port) << "\n";
    ASSERT_TRUE(reload());
    EXPECT_EQ(ParseBody(served.ReadResponse(kReplyBoundMs))["error_code"], 0);
    const std::optional<std::string> reloaded = Bridge.WaitForLine(reread, kReplyBoundMs);
    ASSERT_TRUE(reloaded);
    EXPECT_NE(reloaded->find(": разрешено сайтов: 1"), std::string::npos) << *reloaded;
    EXPECT_EQ(code("https://a.example"), 125);
    EXPECT_EQ(code("https://b.example"), 0);

    fs::remove(SettingsFile());
    fs::create_directory(SettingsFile());
    ASSERT_TRUE(reload());
    const std::optional<std::string> kept =
        Bridge.WaitForLine("Список сайтов не перечитан", kReplyBoundMs);
    ASSERT_TRUE(kept);
    EXPECT_NE(kept->find("действует прежний (разрешено сайтов: 1): "), std::string::npos) << *kept;
    EXPECT_EQ(code("https://b.example"), 0);
    EXPECT_EQ(code("https://a.example"), 125);
    fs::remove(SettingsFile());
}

// modbus-bridged started in a terminal still ends when that terminal goes (its window closed,
// the SSH session lost): the SIGHUP of a hang-up is not a request to read the sites again. The
// fault: a bridge left running without its terminal, holding port 19284.
TEST_P(EndToEndTest, ABridgeWhoseTerminalHangsUpEnds) {
    if (!PrintsLog() || Windows()) {
        GTEST_SKIP() << "a terminal's hang-up is modbus-bridged's on Linux";
    }
    std::ofstream(SettingsFile()) << "[Options]\n";
    const std::string program = ProgramFile().string();
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(program.c_str(), "modbus-bridged", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string shown;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyBoundMs);
    while (shown.find("/demo/") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd readable{terminal, POLLIN, 0};
        char buffer[4096];
        if (poll(&readable, 1, 100) == 1) {
            const ssize_t got = read(terminal, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            shown.append(buffer, static_cast<size_t>(got));
        }
    }
    EXPECT_NE(shown.find("/demo/"), std::string::npos) << shown;
    close(terminal);
    int status = 0;
    const bool ended = Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended) << "the bridge went on after its terminal hung up";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(PortHolder(kPort).has_value());
}

// An X display of its own (Xvfb), on which the Linux window takes key strokes as an operator
// types them (xdotool, through the X server's test extension).
class TDisplay {
public:
    bool Start() {
        if (!Server.Start(XVFB_PATH, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                                      "tcp", "-noreset"})) {
            return false;
        }
        const std::optional<std::string> number = Server.ReadLine(kReplyBoundMs);
        if (!number) {
            return false;
        }
        Name = ":" + *number;
        return true;
    }

    // xdotool with the arguments on this display: its first line of output, or none when it
    // failed.
    std::optional<std::string> Xdotool(const std::vector<std::string>& arguments) const {
        TSpawnedProgram xdotool;
        std::vector<std::string> command = {"DISPLAY=" + Name, XDOTOOL_PATH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        if (!xdotool.Start("/usr/bin/env", command)) {
            return std::nullopt;
        }
        const std::string line = xdotool.ReadLine(2 * kReplyBoundMs).value_or("");
        if (xdotool.WaitForExit(2 * kReplyBoundMs) != 0) {
            return std::nullopt;
        }
        return line;
    }

    // The window of that name once it is shown. xdotool gives up when a window goes while it
    // looks (Qt makes and drops windows of its own), so it looks again.
    std::optional<std::string> ShownWindow(const std::string& name) const {
        std::optional<std::string> found;
        if (!Eventually([&] {
                found = Xdotool({"search", "--onlyvisible", "--name", name});
                return found && !found->empty();
            })) {
            return std::nullopt;
        }
        return found;
    }

    std::string Name;

private:
    TSpawnedProgram Server;
};

// With no access settings: programs without Origin and the bridge's own page are served; another
// page waits for the operator's answer in the window (127) and is served after "Разрешить", while
// modbus-bridged refuses it (125) and says once how to list it. null is refused by both unless
// null=1 is written by hand, which the start lines then warn of.
TEST_P(EndToEndTest, ByDefaultOtherPagesWaitForTheOperatorOrAreRefused) {
    const std::string allowed = "https://allowed.example";
    // The Linux window on a display where the operator's keys reach it.
    TDisplay display;
    if (!PrintsLog() && !Windows()) {
        ASSERT_TRUE(display.Start());
        setenv("DISPLAY", display.Name.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    for (const bool nullWritten : {false, true}) {
        SCOPED_TRACE(nullWritten ? "null=1" : "no settings");
        Start({}, nullWritten ? "[Origins]\nnull=1\n" : "");
        const int unlisted =
            PrintsLog() ? ErrorCode::AccessRefused : ErrorCode::AccessAwaitingOperator;
        const std::pair<std::string, int> rows[] = {
            {"", 0},
            {"http://localhost:19284", 0},
            {"http://127.0.0.1:19284", 0},
            {"http://[::1]:19284", 0},
            {"https://new.example", unlisted},
            {"http://localhost:8080", unlisted},
            {"null", nullWritten ? 0 : ErrorCode::AccessRefused},
            {"https://new.example", unlisted},
        };
        THttpClient client;
        ASSERT_TRUE(client.Connect(kPort));
        // First, so that its question is the one in view.
        ASSERT_TRUE(client.Send(FromOrigin(allowed, RequestJson(R"({"a":[3,0,3,0,1]})"))));
        EXPECT_EQ(ParseBody(client.ReadResponse(kReplyBoundMs))["error_code"], unlisted);
        for (const auto& [origin, code] : rows) {
            ASSERT_TRUE(client.Send(FromOrigin(origin, RequestJson(R"({"a":[3,0,2,0,1]})"))));
            const std::optional<std::string> response = client.ReadResponse(kReplyBoundMs);
            ASSERT_TRUE(response) << origin;
            EXPECT_EQ(ParseBody(response)["error_code"], code) << origin;
            if (code != 0) {
                EXPECT_EQ(ResponseBody(*response),
                          R"({"error_code":)" + std::to_string(code) + R"(,"error_text":")" +
                              ErrorText(static_cast<int8_t>(code)) + R"(","status":"error"})");
            }
        }

        if (PrintsLog()) {
            const std::vector<std::string> lines = LinesUpTo(AdviceLine("http://localhost:8080"));
            const auto count = [&lines](const std::string& text) {
                return std::count(lines.begin(), lines.end(), text);
            };
            EXPECT_EQ(count(AdviceLine(allowed)), 1);
            EXPECT_EQ(count(AdviceLine("https://new.example")), 1);
            EXPECT_EQ(count(AdviceLine("http://localhost:8080")), 1);
            EXPECT_EQ(count(AdviceLine("null")), 0);
            EXPECT_EQ(count("Настройка null=1 в разделе Origins: любой сайт, открытый в браузере "
                            "на этом компьютере, может управлять устройствами через мост из "
                            "изолированного фрейма (sandbox), который посылает Origin: null"),
                      nullWritten ? 1 : 0);
        } else {
            // The operator presses "Разрешить" from the keyboard: Tab from the log to it, then
            // Space, again until it answers (the bar takes none in its first half second).
            if (Windows()) {
                TSpawnedProgram driver;
                ASSERT_TRUE(
                    driver.Start(WINE_RUN_PATH, {WINDOWS_BUILD_PATH, WINDOW_DRIVER_PATH, "keys",
                                                 "tab", "allow", std::to_string(kReplyBoundMs)}));
                EXPECT_EQ(driver.WaitForExit(4 * kReplyBoundMs), 0);
            } else {
                const std::optional<std::string> window = display.ShownWindow("RAVO Duridur");
                ASSERT_TRUE(window);
                ASSERT_TRUE(display.Xdotool({"windowfocus", "--sync", *window, "key", "Tab"}));
                ASSERT_TRUE(Eventually([&] {
                    display.Xdotool({"key", "space"});
                    return TIniFile(SettingsFile().string()).HasValue("Origins", allowed);
                }));
            }
            // The answer is kept at once; from then on the page is served.
            const auto until =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyBoundMs);
            while (TIniFile(SettingsFile().string()).ReadString("Origins", allowed, "") != "1" &&
                   std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ASSERT_TRUE(client.Send(FromOrigin(allowed, RequestJson(R"({"a":[3,0,3,0,1]})"))));
            EXPECT_EQ(ParseBody(client.ReadResponse(kReplyBoundMs))["data"]["3"], 3);
        }
        StopBridge();
        Sim.Process.Stop();
    }
}

// --list-ports prints the ports table by the settings file beside the program (here a [Ports] line
// whose adapter is not plugged in) and ends at once, without the start lines or a server.
TEST_P(EndToEndTest, ListPortsPrintsThePortsTableAndServesNothing) {
    if (!PrintsLog()) {
        GTEST_SKIP() << "a window has no console to print to";
    }
    const std::string gone =
        Windows() ? "\\\\.\\COM77" : "/dev/serial/by-id/usb-Gone_Adapter_0001-if00-port0";
    std::ofstream(SettingsFile()) << "[Ports]\nCOM7=" << gone << "\n";
    if (Windows()) {
        ASSERT_TRUE(Bridge.Start(WINE_RUN_PATH,
                                 {WINDOWS_BUILD_PATH, ProgramFile().string(), "--list-ports"}));
    } else {
        ASSERT_TRUE(Bridge.Start(ProgramFile().string(), {"--list-ports"}));
    }
    std::vector<std::string> lines;
    while (std::optional<std::string> line = Bridge.ReadLine(kReplyBoundMs)) {
        lines.push_back(line->ends_with('\r') ? line->substr(0, line->size() - 1) : *line);
    }
    EXPECT_EQ(Bridge.WaitForExit(kReplyBoundMs), 0);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(lines.front().starts_with("COM  ") &&
                lines.front().find("Устройство") != std::string::npos)
        << lines.front();
    const std::string note = Windows() ? "нет среди портов" : "устройства нет";
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [&](const std::string& line) {
                               return line.starts_with("COM7 ") &&
                                      line.find(Windows() ? "\\\\.\\COM77" : gone) !=
                                          std::string::npos &&
                                      line.ends_with(note);
                           }),
              lines.end());
    EXPECT_FALSE(PortHolder(kPort));
}

struct TMbpollRun {
    std::optional<int> Status;
    // The value of each register mbpoll printed, by its address.
    std::map<int, long> Values;
};

// mbpoll as a Modbus TCP master, registers from address first (0-based); with values it writes.
TMbpollRun RunMbpollTcp(int port, int first, int count, const std::vector<std::string>& values) {
    std::vector<std::string> arguments = {"-m", "tcp", "-p", std::to_string(port),
                                          "-a", "1",   "-0", "-1",
                                          "-o", "3",   "-r", std::to_string(first)};
    // A write takes its count from its values.
    if (values.empty()) {
        arguments.insert(arguments.end(), {"-c", std::to_string(count)});
    }
    arguments.push_back("127.0.0.1");
    arguments.insert(arguments.end(), values.begin(), values.end());
    TMbpollRun run;
    TSpawnedProgram mbpoll;
    if (!mbpoll.Start(MBPOLL_PATH, arguments)) {
        return run;
    }
    while (const std::optional<std::string> line = mbpoll.ReadLine(kFirstWindowBoundMs)) {
        int address = 0;
        long value = 0;
        if (std::sscanf(line->c_str(), "[%d]: %ld", &address, &value) == 2) {
            run.Values[address] = value;
        }
    }
    run.Status = mbpoll.WaitForExit(kReplyBoundMs);
    return run;
}

// A SCADA tool beside the page, in one run: mbpoll and a libmodbus master write and read through
// the Modbus TCP front end, the page's JSON road reads what they wrote, and a slave that stays
// silent is answered with exception 0x0B; the queue is on, so two pages asking at once are both
// answered. The faults: the front end not listening, a wrong transaction id or unit id (both
// masters check them), a write lost on the way, a silent slave left unanswered until the master's
// own time-out, the front end on without the queue.
TEST_P(EndToEndTest, ModbusTcpMastersAndThePageShareTheLine) {
    const int tcpPort = FreeLoopbackPort();
    ASSERT_NE(tcpPort, 0);
    // The device's delay holds each exchange long enough for a second page to ask meanwhile.
    Start({"--delay", "100"},
          "[ModbusTcp]\nPort=" + std::to_string(tcpPort) + "\nCOM=1\nBaud=19200\nTimeoutMs=300\n");
    if (PrintsLog()) {
        const std::vector<std::string> lines = LinesUpTo("Modbus TCP слушает порт");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "Modbus TCP слушает порт " + std::to_string(tcpPort) +
                                    " только на 127.0.0.1 и ::1: запросы на COM1, 19200 бод, "
                                    "таймаут 300 мс");
    } else {
        // The window opens the front end after the HTTP side, and tells it in no output.
        ASSERT_TRUE(WaitUntilListening(kReplyBoundMs, tcpPort));
    }

    EXPECT_EQ(RunMbpollTcp(tcpPort, 5, 0, {"1234"}).Status, 0);

    modbus_t* master = modbus_new_tcp("127.0.0.1", tcpPort);
    ASSERT_NE(master, nullptr);
    modbus_set_response_timeout(master, 5, 0);
    ASSERT_EQ(modbus_connect(master), 0) << modbus_strerror(errno);
    modbus_set_slave(master, 1);
    uint16_t registers[2] = {};
    EXPECT_EQ(modbus_read_registers(master, 5, 2, registers), 2) << modbus_strerror(errno);
    EXPECT_EQ(registers[0], 1234);
    EXPECT_EQ(registers[1], 6);
    EXPECT_EQ(modbus_write_register(master, 6, 4321), 1) << modbus_strerror(errno);
    modbus_set_slave(master, 9);
    EXPECT_EQ(modbus_read_registers(master, 5, 1, registers), -1);
    EXPECT_EQ(errno, EMBXGTAR) << modbus_strerror(errno);
    modbus_close(master);
    modbus_free(master);

    THttpClient client;
    ASSERT_TRUE(client.Connect(kPort));
    const Json::Value reply = ParseBody(Ask(client, RequestJson(R"({"a":[3,0,5,0,2]})")));
    EXPECT_EQ(reply["status"], "ok");
    EXPECT_EQ(reply["data"]["5"], 1234);
    EXPECT_EQ(reply["data"]["6"], 4321);

    const TMbpollRun read = RunMbpollTcp(tcpPort, 5, 2, {});
    EXPECT_EQ(read.Status, 0);
    EXPECT_EQ(read.Values, (std::map<int, long>{{5, 1234}, {6, 4321}}));

    // With the front end on, the queue is: a page that asks while another page's request is on
    // the line is answered in its turn rather than left without a reply.
    while (Sim.Process.ReadLine(200)) {
    }
    THttpClient second;
    ASSERT_TRUE(second.Connect(kPort));
    ASSERT_TRUE(client.Send(PostRequest(RequestJson(R"({"a":[3,0,5,0,1]})"))));
    ASSERT_TRUE(DeviceTookARequest());
    EXPECT_EQ(ParseBody(Ask(second, RequestJson(R"({"a":[3,0,6,0,1]})")))["data"]["6"], 4321);
    EXPECT_EQ(ParseBody(client.ReadResponse(kReplyBoundMs))["data"]["5"], 1234);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, EndToEndTest,
    ::testing::Values(TProgram{"modbus-bridged", "modbus-bridged", MODBUS_BRIDGED_PATH, true},
                      TProgram{"modbus-bridge", "modbus-bridge", MODBUS_BRIDGE_PATH, false},
                      TProgram{"modbus-bridged-windows", "modbus-bridged.exe",
                               MODBUS_BRIDGED_EXE_PATH, true, true, 20},
                      TProgram{"modbus-bridge-windows", "modbus-bridge.exe", MODBUS_BRIDGE_EXE_PATH,
                               false, true, 23}),
    [](const ::testing::TestParamInfo<TProgram>& program) {
        if (program.param.Windows) {
            return std::string(program.param.PrintsLog ? "WindowsHeadless" : "WindowsWindow");
        }
        return program.param.PrintsLog ? std::string("Headless") : std::string("Window");
    });

}  // namespace
