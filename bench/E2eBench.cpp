// One read of holding registers from modbus-sim over a pseudo-terminal, two ways: through the
// bridge by HTTP on loopback, and by libmodbus's modbus_read_registers on the same kind of port
// and device. Prints the medians and the bridge's overhead once the pause it makes after every
// exchange is taken away; then how a request grows with the PDUs it holds and with the register
// count. With --windows-build DIR, the overhead of the Linux program beside that of the Windows
// build's modbus-bridged.exe under wine, its COM port leading to a simulator of its own. With
// --overhead [RUNS], only the overhead, measured RUNS times (5 unless given) one after the other,
// and the median of the runs: on a shared machine a single run moves by a tenth of a millisecond.
// With --queue, the shared line's throughput with the queue on for 1, 2, 4 and 8 clients that
// each read as fast as they are answered, beside the wire's limit (an exchange and its pause):
// pages alone, then half of them Modbus TCP masters; and the Modbus TCP front end's overhead
// beside libmodbus on the device itself.
#include <fcntl.h>
#include <modbus/modbus.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HttpClient.h"
#include "Lookups.h"
#include "PortHolder.h"
#include "SpawnedProgram.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPort = 19284;
constexpr int kBaud = 115200;
constexpr int kRounds = 200;
// The Modbus TCP front end's wait for an answer.
constexpr unsigned kTcpTimeoutMs = 500;

using TClock = std::chrono::steady_clock;

struct TFigures {
    double Median;
    double P90;
};

TFigures Measure(int rounds, const std::function<bool()>& once) {
    std::vector<double> milliseconds;
    for (int round = 0; round < rounds; ++round) {
        const auto start = TClock::now();
        if (!once()) {
            std::fprintf(stderr, "bench-e2e: a request failed\n");
            std::exit(1);
        }
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(TClock::now() - start).count());
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    return {milliseconds[milliseconds.size() / 2], milliseconds[milliseconds.size() * 9 / 10]};
}

std::string ReadRequest(int pdus, int count) {
    std::string pdu;
    for (int index = 0; index < pdus; ++index) {
        char member[64];
        std::snprintf(member, sizeof member, "%s\"p%03d\":[3,0,%d,0,%d]", index ? "," : "", index,
                      index, count);
        pdu += member;
    }
    return R"({"company_id":1,"device_id":1,"slave_addr":1,"baud_rate":)" + std::to_string(kBaud) +
           R"(,"com_port":1,"poll_ms":100,"timeout_ms":500,"ctrl_echo":false,"ctrl_dtr":false,)"
           R"("ctrl_rts":false,"ctrl_invert":false,"rand_string":"bench","pdu":{)" +
           pdu + "}}";
}

// libmodbus as the master: on the device's own port (RTU), or by Modbus TCP through the bridge's
// front end, which it waits for while the bridge starts.
class TLibmodbusMaster {
public:
    static TLibmodbusMaster Rtu(const std::string& device) {
        return TLibmodbusMaster(modbus_new_rtu(device.c_str(), kBaud, 'N', 8, 1), device, 1, 1);
    }
    // The bridge answers a silent slave after its own time-out, later than libmodbus's 0.5 s.
    static TLibmodbusMaster Tcp(int port, int slave = 1) {
        modbus_t* context = modbus_new_tcp("127.0.0.1", port);
        if (context != nullptr) {
            modbus_set_response_timeout(context, 5, 0);
        }
        return TLibmodbusMaster(context, "Modbus TCP port " + std::to_string(port), 200, slave);
    }
    TLibmodbusMaster(TLibmodbusMaster&& other) noexcept
        : Context(std::exchange(other.Context, nullptr)), Connected(other.Connected) {}
    TLibmodbusMaster(const TLibmodbusMaster&) = delete;
    TLibmodbusMaster& operator=(const TLibmodbusMaster&) = delete;
    TLibmodbusMaster& operator=(TLibmodbusMaster&&) = delete;
    ~TLibmodbusMaster() {
        if (Context != nullptr) {
            modbus_close(Context);
            modbus_free(Context);
        }
    }

    // False when it could not connect; standard error says so.
    bool Ready() const { return Connected; }
    bool Read(int count) {
        return modbus_read_registers(Context, 0, count, Registers.data()) == count;
    }

private:
    TLibmodbusMaster(modbus_t* context, const std::string& peer, int attempts, int slave)
        : Context(context) {
        for (int attempt = 0; Context != nullptr && attempt < attempts; ++attempt) {
            if (modbus_connect(Context) == 0) {
                Connected = modbus_set_slave(Context, slave) == 0;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!Connected) {
            std::fprintf(stderr, "bench-e2e: libmodbus cannot reach %s\n", peer.c_str());
        }
    }

    modbus_t* Context;
    bool Connected = false;
    std::array<uint16_t, 125> Registers{};
};

// The COM port of the wine prefix that leads to the Windows program's simulator.
constexpr int kWineComPort = 22;

// modbus-bridged in a folder of its own, its log to a file so that nothing holds it back; or,
// given a Windows build, its modbus-bridged.exe under wine, ended by Ctrl+C (SIGINT).
class TBridgeProcess {
public:
    TBridgeProcess(const std::string& devicePath, const std::string& windowsBuild = {},
                   const std::string& serverSettings = {})
        : Windows(!windowsBuild.empty()) {
        Folder = fs::temp_directory_path() / ("bench-e2e-" + std::to_string(getpid()));
        fs::create_directories(Folder);
        const std::string name = Windows ? "modbus-bridged.exe" : "modbus-bridged";
        fs::copy_file(Windows ? windowsBuild + "/modbus-bridged.exe" : MODBUS_BRIDGED_PATH,
                      Folder / name, fs::copy_options::overwrite_existing);
        std::string port = devicePath;
        if (Windows) {
            ComLink = fs::path(windowsBuild) / "wine" / "dosdevices" /
                      ("com" + std::to_string(kWineComPort));
            fs::remove(ComLink);
            fs::create_symlink(devicePath, ComLink);
            port = "\\\\.\\COM" + std::to_string(kWineComPort);
        }
        std::ofstream(Folder / "modbus-bridged.ini")
            << "[Server]\n"
            << serverSettings << "[Ports]\nCOM1=" << port << "\n";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (Folder / "log.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> words{(Folder / name).string()};
        if (Windows) {
            words = {WINE_RUN_PATH, windowsBuild, words.front()};
        }
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        posix_spawn(&Pid, argv.front(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TBridgeProcess() {
        kill(Pid, Windows ? SIGINT : SIGTERM);
        waitpid(Pid, nullptr, 0);
        if (Windows) {
            fs::remove(ComLink);
        }
        fs::remove_all(Folder);
    }

private:
    bool Windows;
    fs::path Folder;
    fs::path ComLink;
    pid_t Pid = -1;
};

bool Connected(THttpClient& client) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (client.Connect(kPort)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void Row(const char* name, const TFigures& figures) {
    std::printf("%-52s %9.3f ms median %9.3f ms p90\n", name, figures.Median, figures.P90);
}

std::function<bool()> BridgeRead(THttpClient& client, int pdus, int count) {
    return [&client, request = PostRequest(ReadRequest(pdus, count))] {
        const auto response = client.Send(request) ? client.ReadResponse(5000) : std::nullopt;
        return response && response->find("\"status\":\"ok\"") != std::string::npos;
    };
}

// A read whose Host names another computer: refused on the server's thread.
std::string RefusedRequest() {
    std::string request = PostRequest(ReadRequest(1, 10));
    const std::string host = "Host: localhost:";
    request.replace(request.find(host), host.size(), "Host: elsewhere.example:");
    return request;
}

struct TBridgeFigures {
    // A read of 10 registers.
    TFigures Read;
    // A request refused by the access settings (125) before any worker: the HTTP server alone.
    TFigures Server;
};

// Reads of 10 registers through a bridge on its own simulated device, and requests that the
// server answers at once.
std::optional<TBridgeFigures> MeasureBridge(const std::string& windowsBuild) {
    TRunningSim device;
    if (!device.Start({})) {
        std::fprintf(stderr, "bench-e2e: modbus-sim did not start\n");
        return std::nullopt;
    }
    const TBridgeProcess bridge(device.Port, windowsBuild);
    THttpClient client;
    if (!Connected(client)) {
        std::fprintf(stderr, "bench-e2e: the bridge did not start on port %d\n", kPort);
        return std::nullopt;
    }
    Measure(20, BridgeRead(client, 1, 10));
    const TFigures read = Measure(kRounds, BridgeRead(client, 1, 10));
    const auto refused = [&client, request = RefusedRequest()] {
        const auto response = client.Send(request) ? client.ReadResponse(5000) : std::nullopt;
        return response && response->find("\"error_code\":125") != std::string::npos;
    };
    Measure(20, refused);
    return TBridgeFigures{read, Measure(kRounds, refused)};
}

// The overhead of the Linux program and of the Windows build under wine, one after the other on
// the same port, against libmodbus on the same kind of device.
int CompareWithWine(const std::string& windowsBuild) {
    const double pauseMs = ExchangePause(kBaud);
    const std::optional<TBridgeFigures> linux = MeasureBridge({});
    const std::optional<TBridgeFigures> wine = MeasureBridge(windowsBuild);
    TRunningSim libmodbusDevice;
    if (!linux || !wine || !libmodbusDevice.Start({})) {
        return 1;
    }
    TLibmodbusMaster device = TLibmodbusMaster::Rtu(libmodbusDevice.Port);
    if (!device.Ready()) {
        return 1;
    }
    const auto libmodbusRead = [&device] { return device.Read(10); };
    Measure(20, libmodbusRead);
    const TFigures viaLibmodbus = Measure(kRounds, libmodbusRead);

    std::printf(
        "bench-e2e: %d rounds each, %d baud, pause after an exchange %.0f ms; wine is not "
        "Windows, so the second figure is for information\n",
        kRounds, kBaud, pauseMs);
    Row("read 10 registers, modbus-bridged (Linux)", linux->Read);
    Row("read 10 registers, modbus-bridged.exe (wine)", wine->Read);
    Row("read 10 registers, libmodbus", viaLibmodbus);
    Row("refused at once (125), modbus-bridged (Linux)", linux->Server);
    Row("refused at once (125), modbus-bridged.exe (wine)", wine->Server);
    std::printf("%-52s %9.3f ms Linux %9.3f ms wine\n",
                "bridge overhead at the median, without the pause",
                linux->Read.Median - pauseMs - viaLibmodbus.Median,
                wine->Read.Median - pauseMs - viaLibmodbus.Median);
    return 0;
}

// The overhead alone, run after run: the bridge's reads and libmodbus's alternate, so that a
// change of the machine's load touches both figures of a run alike.
int MeasureOverheadRuns(int runs) {
    TRunningSim bridgeDevice;
    TRunningSim libmodbusDevice;
    if (!bridgeDevice.Start({}) || !libmodbusDevice.Start({})) {
        std::fprintf(stderr, "bench-e2e: modbus-sim did not start\n");
        return 1;
    }
    const double pauseMs = ExchangePause(kBaud);
    TBridgeProcess bridge(bridgeDevice.Port);
    THttpClient client;
    if (!Connected(client)) {
        std::fprintf(stderr, "bench-e2e: modbus-bridged did not start on port %d\n", kPort);
        return 1;
    }
    TLibmodbusMaster device = TLibmodbusMaster::Rtu(libmodbusDevice.Port);
    if (!device.Ready()) {
        return 1;
    }
    const auto libmodbusRead = [&device] { return device.Read(10); };
    std::printf("bench-e2e: %d runs of %d rounds, %d baud, pause after an exchange %.0f ms\n", runs,
                kRounds, kBaud, pauseMs);
    Measure(20, BridgeRead(client, 1, 10));
    Measure(20, libmodbusRead);
    std::vector<double> overheads;
    for (int run = 1; run <= runs; ++run) {
        const TFigures viaBridge = Measure(kRounds, BridgeRead(client, 1, 10));
        const TFigures viaLibmodbus = Measure(kRounds, libmodbusRead);
        overheads.push_back(viaBridge.Median - pauseMs - viaLibmodbus.Median);
        std::printf("run %d: bridge %.3f ms, libmodbus %.3f ms, overhead %.3f ms\n", run,
                    viaBridge.Median, viaLibmodbus.Median, overheads.back());
    }
    std::sort(overheads.begin(), overheads.end());
    std::printf("%-52s %9.3f ms (runs %.3f to %.3f)\n",
                "bridge overhead, median of the runs' medians", overheads[overheads.size() / 2],
                overheads.front(), overheads.back());
    return 0;
}

struct TClientsRun {
    // Each client's reply times, in milliseconds.
    std::vector<std::vector<double>> Replies;
    // From the start until the last reply: the last requests end after the seconds given.
    double Seconds = 0;
};

// Each client reads as soon as its last reply came, for the seconds given, all at once. None
// when a read failed (said on standard error).
std::optional<TClientsRun> RunClients(const std::vector<std::function<bool()>>& reads,
                                      int seconds) {
    std::vector<std::vector<double>> replies(reads.size());
    // Not vector<bool>: its elements share bytes, and each thread writes its own.
    std::vector<int> failed(reads.size(), 0);
    const auto begin = TClock::now();
    const auto end = begin + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (size_t index = 0; index < reads.size(); ++index) {
        threads.emplace_back([&, index] {
            while (TClock::now() < end) {
                const auto start = TClock::now();
                if (!reads[index]()) {
                    failed[index] = 1;
                    return;
                }
                replies[index].push_back(
                    std::chrono::duration<double, std::milli>(TClock::now() - start).count());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (std::find(failed.begin(), failed.end(), 1) != failed.end()) {
        std::fprintf(stderr, "bench-e2e: a request through the queue failed\n");
        return std::nullopt;
    }
    return TClientsRun{std::move(replies),
                       std::chrono::duration<double>(TClock::now() - begin).count()};
}

double MedianOf(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Three pages reading, without and then with a Modbus TCP master that polls a slave nobody
// answers for: the pages' median wait grows by at most one time-out (and the pause after it) a
// round, since the silent slave's one waiting request goes after one turn of each of theirs.
int MeasureSilentSlave(int tcpPort, int seconds) {
    constexpr int kPages = 3;
    constexpr int kSilentSlave = 9;
    std::vector<std::unique_ptr<THttpClient>> pages;
    std::vector<std::function<bool()>> reads;
    for (int index = 0; index < kPages; ++index) {
        pages.push_back(std::make_unique<THttpClient>());
        if (!Connected(*pages.back())) {
            std::fprintf(stderr, "bench-e2e: modbus-bridged did not start on port %d\n", kPort);
            return 1;
        }
        reads.push_back(BridgeRead(*pages.back(), 1, 10));
    }
    const auto pagesMedian = [](const TClientsRun& run) {
        std::vector<double> all;
        for (size_t index = 0; index < kPages; ++index) {
            all.insert(all.end(), run.Replies[index].begin(), run.Replies[index].end());
        }
        return MedianOf(all);
    };
    const std::optional<TClientsRun> alone = RunClients(reads, seconds);
    TLibmodbusMaster master = TLibmodbusMaster::Tcp(tcpPort, kSilentSlave);
    if (!alone || !master.Ready()) {
        return 1;
    }
    int silentAnswers = 0;
    // Its answer is exception 0x0B: a failed read for libmodbus, and what the master expects.
    reads.push_back([&master, &silentAnswers] {
        if (master.Read(10) || errno != EMBXGTAR) {
            return false;
        }
        ++silentAnswers;
        return true;
    });
    const std::optional<TClientsRun> beside = RunClients(reads, seconds);
    if (!beside) {
        return 1;
    }
    std::printf(
        "\n%d pages, median wait: %.1f ms alone, %.1f ms beside a master polling silent "
        "slave %d (%d answers 0x0B); growth %.1f ms against one time-out and its pause (%u ms) "
        "a round\n",
        kPages, pagesMedian(*alone), pagesMedian(*beside), kSilentSlave, silentAnswers,
        pagesMedian(*beside) - pagesMedian(*alone), kTcpTimeoutMs + ExchangePause(kBaud));
    return 0;
}

// Exchanges a second through one bridge with the queue on, for several clients on connections of
// their own, each sending its next read as soon as its reply comes; beside the wire's limit, one
// exchange (libmodbus's median read) and the pause after it, whoever asks.
int MeasureQueueThroughput() {
    constexpr int kSeconds = 5;
    TRunningSim bridgeDevice;
    TRunningSim libmodbusDevice;
    if (!bridgeDevice.Start({}) || !libmodbusDevice.Start({})) {
        std::fprintf(stderr, "bench-e2e: modbus-sim did not start\n");
        return 1;
    }
    const int tcpPort = FreeLoopbackPort();
    const TBridgeProcess bridge(bridgeDevice.Port, {},
                                "Queue=8\n[ModbusTcp]\nPort=" + std::to_string(tcpPort) +
                                    "\nCOM=1\nBaud=" + std::to_string(kBaud) +
                                    "\nTimeoutMs=" + std::to_string(kTcpTimeoutMs) + "\n");
    TLibmodbusMaster device = TLibmodbusMaster::Rtu(libmodbusDevice.Port);
    if (!device.Ready()) {
        return 1;
    }
    const TFigures exchange = Measure(kRounds, [&device] { return device.Read(10); });
    const double wireLimit = 1000.0 / (exchange.Median + ExchangePause(kBaud));
    std::printf(
        "bench-e2e: reads of 10 registers at %d baud, %d s per row; one exchange %.3f ms, "
        "pause %u ms\n",
        kBaud, kSeconds, exchange.Median, ExchangePause(kBaud));
    std::printf("%8s %8s %14s %14s %10s %16s\n", "clients", "masters", "exchanges/s",
                "wire limit/s", "of limit", "slowest reply");
    for (const auto& [clients, masters] : std::vector<std::pair<int, int>>{
             {1, 0}, {2, 0}, {4, 0}, {8, 0}, {1, 1}, {2, 1}, {4, 2}, {8, 4}}) {
        std::vector<std::function<bool()>> reads;
        std::vector<std::unique_ptr<THttpClient>> pages;
        std::vector<std::unique_ptr<TLibmodbusMaster>> tcpMasters;
        for (int index = 0; index < clients; ++index) {
            if (index < masters) {
                tcpMasters.push_back(
                    std::make_unique<TLibmodbusMaster>(TLibmodbusMaster::Tcp(tcpPort)));
                if (!tcpMasters.back()->Ready()) {
                    return 1;
                }
                reads.push_back([master = tcpMasters.back().get()] { return master->Read(10); });
                continue;
            }
            pages.push_back(std::make_unique<THttpClient>());
            if (!Connected(*pages.back())) {
                std::fprintf(stderr, "bench-e2e: modbus-bridged did not start on port %d\n", kPort);
                return 1;
            }
            reads.push_back(BridgeRead(*pages.back(), 1, 10));
        }
        const std::optional<TClientsRun> run = RunClients(reads, kSeconds);
        if (!run) {
            return 1;
        }
        size_t total = 0;
        double slowest = 0;
        for (const std::vector<double>& times : run->Replies) {
            total += times.size();
            slowest = std::max(slowest,
                               times.empty() ? 0 : *std::max_element(times.begin(), times.end()));
        }
        const double perSecond = static_cast<double>(total) / run->Seconds;
        std::printf("%8d %8d %14.1f %14.1f %9.1f%% %13.1f ms\n", clients, masters, perSecond,
                    wireLimit, 100.0 * perSecond / wireLimit, slowest);
    }
    if (MeasureSilentSlave(tcpPort, kSeconds) != 0) {
        return 1;
    }

    // One master alone, each read sent once the pause owed by the one before has passed, so
    // that it finds the line free: what the front end adds to libmodbus's own exchange.
    TLibmodbusMaster master = TLibmodbusMaster::Tcp(tcpPort);
    if (!master.Ready()) {
        return 1;
    }
    std::vector<double> latencies;
    for (int round = 0; round < kRounds; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ExchangePause(kBaud) + 5));
        const auto start = TClock::now();
        if (!master.Read(10)) {
            std::fprintf(stderr, "bench-e2e: a read through the Modbus TCP front end failed\n");
            return 1;
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(TClock::now() - start).count());
    }
    std::sort(latencies.begin(), latencies.end());
    const TFigures viaFrontEnd{latencies[latencies.size() / 2],
                               latencies[latencies.size() * 9 / 10]};
    std::printf("\n");
    Row("read 10 registers, libmodbus by Modbus TCP via bridge", viaFrontEnd);
    Row("read 10 registers, libmodbus on the device", exchange);
    std::printf("%-52s %9.3f ms\n", "front end overhead at the median",
                viaFrontEnd.Median - exchange.Median);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<std::string> holder = PortHolder(kPort)) {
        std::fprintf(stderr, "bench-e2e: port %d is taken: %s\n", kPort, holder->c_str());
        return 1;
    }
    if (argc == 3 && std::string(argv[1]) == "--windows-build") {
        return CompareWithWine(argv[2]);
    }
    if ((argc == 2 || argc == 3) && std::string(argv[1]) == "--overhead") {
        const int runs = argc == 3 ? std::atoi(argv[2]) : 5;
        if (runs < 1) {
            std::fprintf(stderr, "bench-e2e: --overhead takes a count of runs from 1\n");
            return 2;
        }
        return MeasureOverheadRuns(runs);
    }
    if (argc == 2 && std::string(argv[1]) == "--queue") {
        return MeasureQueueThroughput();
    }
    if (argc != 1) {
        std::fprintf(stderr,
                     "usage: bench-e2e [--windows-build <folder> | --overhead [RUNS] | --queue]\n");
        return 2;
    }
    TRunningSim bridgeDevice;
    TRunningSim libmodbusDevice;
    if (!bridgeDevice.Start({}) || !libmodbusDevice.Start({})) {
        std::fprintf(stderr, "bench-e2e: modbus-sim did not start\n");
        return 1;
    }
    const double pauseMs = ExchangePause(kBaud);

    TBridgeProcess bridge(bridgeDevice.Port);
    THttpClient client;
    if (!Connected(client)) {
        std::fprintf(stderr, "bench-e2e: modbus-bridged did not start on port %d\n", kPort);
        return 1;
    }
    const auto bridgeRead = [&client](int pdus, int count) {
        return BridgeRead(client, pdus, count);
    };

    TLibmodbusMaster device = TLibmodbusMaster::Rtu(libmodbusDevice.Port);
    if (!device.Ready()) {
        return 1;
    }
    const auto libmodbusRead = [&device](int count) {
        return [&device, count] { return device.Read(count); };
    };

    std::printf("bench-e2e: %d rounds each, %d baud, pause after an exchange %.0f ms\n", kRounds,
                kBaud, pauseMs);
    Measure(20, bridgeRead(1, 10));
    Measure(20, libmodbusRead(10));
    const TFigures viaBridge = Measure(kRounds, bridgeRead(1, 10));
    const TFigures viaLibmodbus = Measure(kRounds, libmodbusRead(10));
    Row("read 10 registers, bridge by HTTP", viaBridge);
    Row("read 10 registers, libmodbus", viaLibmodbus);
    std::printf("%-52s %9.3f ms\n", "bridge overhead at the median, without the pause",
                viaBridge.Median - pauseMs - viaLibmodbus.Median);

    std::printf("\nPDUs in one request (10 registers each), bridge:\n");
    for (const int pdus : {1, 10, 50}) {
        const TFigures figures = Measure(pdus == 50 ? 20 : 50, bridgeRead(pdus, 10));
        char name[64];
        std::snprintf(name, sizeof name, "  %2d PDUs", pdus);
        Row(name, figures);
        std::printf("%-52s %9.3f ms per PDU\n", "    without the pauses",
                    (figures.Median - pdus * pauseMs) / pdus);
    }

    std::printf("\nRegisters in one read:\n");
    for (const int count : {1, 60, 125}) {
        const TFigures bridgeFigures = Measure(100, bridgeRead(1, count));
        const TFigures libmodbusFigures = Measure(100, libmodbusRead(count));
        char name[64];
        std::snprintf(name, sizeof name, "  %3d registers, bridge", count);
        Row(name, bridgeFigures);
        std::snprintf(name, sizeof name, "  %3d registers, libmodbus", count);
        Row(name, libmodbusFigures);
        std::printf("%-52s %9.3f ms\n", "    bridge overhead without the pause",
                    bridgeFigures.Median - pauseMs - libmodbusFigures.Median);
    }
    return 0;
}
