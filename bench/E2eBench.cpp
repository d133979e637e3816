// One read of holding registers from modbus-sim over a pseudo-terminal, two ways: through the
// bridge by HTTP on loopback, and by libmodbus's modbus_read_registers on the same kind of port
// and device. Prints the medians and the bridge's overhead once the pause it makes after every
// exchange is taken away; then how a request grows with the PDUs it holds and with the register
// count.
#include <fcntl.h>
#include <modbus/modbus.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
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

// modbus-bridged in a folder of its own, its log to a file so that nothing holds it back.
class TBridgeProcess {
public:
    explicit TBridgeProcess(const std::string& devicePath) {
        Folder = fs::temp_directory_path() / ("bench-e2e-" + std::to_string(getpid()));
        fs::create_directories(Folder);
        fs::copy_file(MODBUS_BRIDGED_PATH, Folder / "modbus-bridged",
                      fs::copy_options::overwrite_existing);
        std::ofstream(Folder / "modbus-bridged.ini") << "[Ports]\nCOM1=" << devicePath << "\n";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (Folder / "log.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const std::string program = (Folder / "modbus-bridged").string();
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        posix_spawn(&Pid, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TBridgeProcess() {
        kill(Pid, SIGTERM);
        waitpid(Pid, nullptr, 0);
        fs::remove_all(Folder);
    }

private:
    fs::path Folder;
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

}  // namespace

int main() {
    if (const std::optional<std::string> holder = PortHolder(kPort)) {
        std::fprintf(stderr, "bench-e2e: port %d is taken: %s\n", kPort, holder->c_str());
        return 1;
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
        return [&client, request = PostRequest(ReadRequest(pdus, count))] {
            const auto response = client.Send(request) ? client.ReadResponse(5000) : std::nullopt;
            return response && response->find("\"status\":\"ok\"") != std::string::npos;
        };
    };

    modbus_t* context = modbus_new_rtu(libmodbusDevice.Port.c_str(), kBaud, 'N', 8, 1);
    if (context == nullptr || modbus_set_slave(context, 1) != 0 || modbus_connect(context) != 0) {
        std::fprintf(stderr, "bench-e2e: libmodbus cannot open %s\n", libmodbusDevice.Port.c_str());
        return 1;
    }
    uint16_t registers[125];
    const auto libmodbusRead = [&](int count) {
        return [context, &registers, count] {
            return modbus_read_registers(context, 0, count, registers) == count;
        };
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
    modbus_close(context);
    modbus_free(context);
    return 0;
}
