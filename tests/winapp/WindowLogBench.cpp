// bench-window-log: what showing the log costs in the Win32 window: lines appended one call
// each, as requests log them, up to and past the rich-text control's limit, where the oldest
// lines leave it. Prints the cost of a call per block of lines, the slowest call and the
// process's memory.
//
//   tests/winapp/window-test.sh build-windows build-windows/tests/bench-window-log.exe [LINES]
#include <windows.h>
// The process's memory counters need windows.h first.
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "LogLine.h"
#include "LogModel.h"
#include "Win32MainWindow.h"

namespace {

class TNoEvents : public TWindowEvents {
public:
    void FormShow() override {}
    void CloseRequested(TCloseCause) override {}
    void M1_SaveClick() override {}
    void M1_StartAtLoginClick() override {}
    void M1_ExitClick() override {}
    void WindowMinimized() override {}
    void M2_ErrorClick() override {}
    void M2_SetClick() override {}
    void M2_HexClick() override {}
    void M_HelpClick() override {}
    void M3_SitesClick() override {}
    void M3_PortsClick() override {}
    void OriginAnswered(const std::string&, bool) override {}
};

double MemoryMB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.PagefileUsage) / (1 << 20);
}

void Pump() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 30000;
    constexpr size_t kBlock = 2500;
    TNoEvents events;
    TWin32MainWindow window(events);
    window.QuitOnDestroy = false;
    window.Show();
    window.PlaceWindow({0, 0, 900, 540});
    TLogModel log;
    const TLocalTime time{2026, 12, 6, 16, 48, 29, 7};
    const TLogKind kinds[] = {TLogKind::Send, TLogKind::Receive, TLogKind::Info};
    std::printf("window limit %zu lines; one call per line appended\n",
                TWin32MainWindow::kShownLinesMax);
    std::printf("%10s %12s %12s %12s %12s\n", "lines", "median ms", "mean ms", "slowest ms",
                "memory MB");
    std::vector<double> block;
    for (size_t number = 0; number < lines; ++number) {
        const TLogKind kind = kinds[number % 3];
        log.Append(kind, FormatLogLine(
                             kind, time,
                             "READ_HOLDING_REGISTERS 0103000000044409 " + std::to_string(number)));
        const auto start = std::chrono::steady_clock::now();
        window.ShowLogLines(log);
        block.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (block.size() == kBlock) {
            // Painting, which the calls leave to the message loop.
            Pump();
            double sum = 0;
            for (const double cost : block) {
                sum += cost;
            }
            std::sort(block.begin(), block.end());
            std::printf("%10zu %12.3f %12.3f %12.1f %12.1f\n", number + 1, block[block.size() / 2],
                        sum / static_cast<double>(block.size()), block.back(), MemoryMB());
            std::fflush(stdout);
            block.clear();
        }
    }
    return 0;
}
