// The event log at a million lines: the cost of an append early and late, the memory a line
// takes, and the time to save the whole log as text and as RTF. With --window the lines also go
// to the window's log view (offscreen), as the program shows them, with the event loop run after
// every thousand lines. With --days N it simulates N days of a page asking once a second, with
// the window's default memory limit, and prints resident memory and the append cost each day;
// --days N --window feeds the window's view too, so the memory is the window program's.
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "LogFile.h"
#include "LogLine.h"
#include "LogModel.h"
#include "LogView.h"

namespace {

constexpr size_t kLines = 1000000;
constexpr size_t kWindow = 1000;

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

long ResidentBytes() {
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr) {
        return -1;
    }
    long total = 0;
    long resident = -1;
    if (std::fscanf(file, "%ld %ld", &total, &resident) != 2) {
        resident = -1;
    }
    std::fclose(file);
    return resident < 0 ? -1 : resident * sysconf(_SC_PAGESIZE);
}

void Advance(TLocalTime& time, int milliseconds) {
    time.Millisecond += milliseconds;
    time.Second += time.Millisecond / 1000;
    time.Millisecond %= 1000;
    time.Minute += time.Second / 60;
    time.Second %= 60;
    time.Hour += time.Minute / 60;
    time.Minute %= 60;
    time.Day += time.Hour / 24;
    time.Hour %= 24;
}

// The lines a page polling every 100 ms leaves: a request and its answer each poll, now and
// then an option line, an error or a notice, and a date line at long intervals.
class TLineSource {
public:
    void Next(size_t index, TLogKind& kind, std::string& text) {
        Advance(Time, 50);
        char hex[64];
        if (index % 100000 == 0) {
            kind = TLogKind::Date;
            text = FormatLogLine(kind, Time, {});
        } else if (index % 997 == 0) {
            kind = TLogKind::Error;
            text = FormatLogLine(kind, Time, "Нет ответа: превышено время ожидания 500 мс");
        } else if (index % 499 == 0) {
            kind = TLogKind::Notice;
            text = FormatLogLine(kind, Time, "Порт COM1 открыт: 19200 8N1");
        } else if (index % 97 == 0) {
            kind = TLogKind::Info;
            text = FormatLogLine(kind, Time, ViewOptionLine(LogText::kViewHexLine, true));
        } else if (index % 2 == 0) {
            kind = TLogKind::Send;
            std::snprintf(hex, sizeof hex, "READ_HOLDING_REGISTER 0103%04zX0002%04zX",
                          index % 0x10000, (index * 40503) % 0x10000);
            text = FormatLogLine(kind, Time, hex);
        } else {
            kind = TLogKind::Receive;
            std::snprintf(hex, sizeof hex, "READ_HOLDING_REGISTER 010304%08zX%04zX",
                          (index * 2654435761u) % 0x100000000u, (index * 40503) % 0x10000);
            text = FormatLogLine(kind, Time, hex);
        }
    }

private:
    TLocalTime Time{2024, 3, 5, 9, 5, 3, 7};
};

// One figure per line, the values in a column.
void Figure(const char* name, const char* format, double value) {
    char shown[64];
    std::snprintf(shown, sizeof shown, format, value);
    std::printf("%-42s %s\n", name, shown);
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

template <typename TWrite>
bool TimeSave(const TLogModel& log, const char* name, const char* suffix, TWrite write) {
    const std::string path =
        "/tmp/bench-log-" + std::to_string(static_cast<long>(getpid())) + suffix;
    const auto start = TClock::now();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    write(log, out);
    out.close();
    const double seconds = SecondsSince(start);
    const bool written = !out.fail();
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto bytes = static_cast<double>(in.tellg());
    in.close();
    std::remove(path.c_str());
    if (!written) {
        std::fprintf(stderr, "bench-log: could not write %s\n", path.c_str());
        return false;
    }
    std::printf("%-42s %8.3f s (%.1f MB, %.0f MB/s)\n", name, seconds, bytes / 1e6,
                bytes / 1e6 / seconds);
    return true;
}

// One request a second for days, as a page polling the bridge leaves it: two PDUs, each sent
// and answered, and the line that closes the request. The lines are fed straight into the model
// at full speed, with the window's default limit; with a view, it is told of every thousand lines
// and the event loop runs, as in the program.
int RunDays(int days, TLogView* view, TLogModel& log) {
    constexpr size_t kLimitBytes = size_t{kDefaultLogLimitMB} << 20;
    constexpr int kLinesPerRequest = 5;
    constexpr int kRequestsPerDay = 24 * 60 * 60;
    log.SetLimitBytes(kLimitBytes);
    TLocalTime time{2026, 1, 1, 0, 0, 0, 0};
    std::vector<std::pair<TLogKind, std::string>> window(kWindow);
    char text[96];
    uint64_t request = 0;
    size_t lineInRequest = 0;
    const auto nextLine = [&](std::pair<TLogKind, std::string>& line) {
        const unsigned value = static_cast<unsigned>((request * 2654435761u) & 0xFFFF);
        switch (lineInRequest) {
            case 0:
                line.first = TLogKind::Send;
                std::snprintf(text, sizeof text, "READ_HOLDING_REGISTER 010300000002C40B");
                break;
            case 1:
                line.first = TLogKind::Receive;
                std::snprintf(text, sizeof text, "READ_HOLDING_REGISTER 01030400%02X%04X%04X",
                              value & 0xFF, value, value ^ 0x5A5A);
                break;
            case 2:
                line.first = TLogKind::Send;
                std::snprintf(text, sizeof text, "READ_SECTION_DEVICE 0145%04X", value);
                break;
            case 3:
                line.first = TLogKind::Receive;
                std::snprintf(text, sizeof text,
                              "READ_SECTION_DEVICE 014520000100030001202600010000000000%04X",
                              value);
                break;
            default:
                line.first = TLogKind::Info;
                std::snprintf(text, sizeof text, "%s", std::string(LogText::kSeparator).c_str());
                break;
        }
        line.second = FormatLogLine(line.first, time, text);
        if (++lineInRequest == kLinesPerRequest) {
            lineInRequest = 0;
            ++request;
            Advance(time, 1000);
        }
    };

    std::printf("bench-log --days %d%s: one request a second, %d lines each, limit %zu MB\n", days,
                view != nullptr ? " --window" : "", kLinesPerRequest, kLimitBytes >> 20);
    std::printf("%4s %12s %11s %12s %10s %14s\n", "day", "lines", "held", "dropped", "RSS MB",
                "append ns");
    const long residentStart = ResidentBytes();
    std::vector<double> dailyMedianNs;
    std::vector<long> dailyResident;
    int limitDay = -1;
    const uint64_t linesPerDay = uint64_t{kRequestsPerDay} * kLinesPerRequest;
    uint64_t appended = 0;
    for (int day = 1; day <= days; ++day) {
        std::vector<double> windowNs;
        windowNs.reserve(linesPerDay / kWindow + 1);
        while (appended < linesPerDay * static_cast<uint64_t>(day)) {
            for (auto& line : window) {
                nextLine(line);
            }
            const auto start = TClock::now();
            for (const auto& [kind, line] : window) {
                log.Append(kind, line);
            }
            if (view != nullptr) {
                view->LinesAppended();
                QApplication::processEvents();
            }
            const auto spent = std::chrono::duration<double, std::nano>(TClock::now() - start);
            windowNs.push_back(spent.count() / kWindow);
            appended += kWindow;
        }
        if (limitDay < 0 && log.Dropped() > 0) {
            limitDay = day;
        }
        dailyMedianNs.push_back(Median(windowNs));
        dailyResident.push_back(ResidentBytes());
        std::printf("%4d %12llu %11zu %12llu %10.1f %14.1f\n", day,
                    static_cast<unsigned long long>(appended), log.Size(),
                    static_cast<unsigned long long>(log.Dropped()),
                    static_cast<double>(dailyResident.back()) / 1e6, dailyMedianNs.back());
    }
    if (residentStart < 0 || dailyResident.back() < 0) {
        std::fprintf(stderr, "bench-log: /proc/self/statm unreadable\n");
        return 1;
    }
    Figure("resident memory at start", "%8.1f MB", static_cast<double>(residentStart) / 1e6);
    if (limitDay > 0) {
        const long atLimit = dailyResident[static_cast<size_t>(limitDay - 1)];
        const long highest =
            *std::max_element(dailyResident.begin() + limitDay - 1, dailyResident.end());
        Figure("first day with lines dropped", "%8.0f", limitDay);
        Figure("resident memory that day", "%8.1f MB", static_cast<double>(atLimit) / 1e6);
        Figure("resident memory after it, highest", "%8.1f MB", static_cast<double>(highest) / 1e6);
        Figure("resident memory at the end", "%8.1f MB",
               static_cast<double>(dailyResident.back()) / 1e6);
    } else {
        std::printf("the limit was not reached in %d days\n", days);
    }
    Figure("append, median of the first day", "%8.1f ns", dailyMedianNs.front());
    Figure("append, median of the last day", "%8.1f ns", dailyMedianNs.back());
    Figure("append, last day / first day", "%8.2f", dailyMedianNs.back() / dailyMedianNs.front());
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool withWindow = (argc > 1 && std::strcmp(argv[1], "--window") == 0) ||
                            (argc > 3 && std::strcmp(argv[3], "--window") == 0);
    if (argc > 2 && std::strcmp(argv[1], "--days") == 0) {
        const int days = std::atoi(argv[2]);
        if (days < 1) {
            std::fprintf(stderr, "bench-log: --days takes a number of days, 1 or more\n");
            return 2;
        }
        TLogModel log;
        if (!withWindow) {
            return RunDays(days, nullptr, log);
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        QApplication application(argc, argv);
        TLogView view(log);
        view.resize(900, 520);
        view.show();
        QApplication::processEvents();
        return RunDays(days, &view, log);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The application exists in both modes, so that both measure from the same start.
    QApplication application(argc, argv);
    TLogModel log;
    std::unique_ptr<TLogView> view;
    if (withWindow) {
        view = std::make_unique<TLogView>(log);
        view->resize(900, 520);
        view->show();
        QApplication::processEvents();
    }
    TLineSource source;
    // The lines of a window are made before it is timed, so only the appends are measured.
    std::vector<std::pair<TLogKind, std::string>> window(kWindow);
    for (auto& line : window) {
        line.second.reserve(128);
    }
    std::vector<double> windowNs;
    windowNs.reserve(kLines / kWindow);
    size_t textBytes = 0;

    const long residentBefore = ResidentBytes();
    const auto appendStart = TClock::now();
    for (size_t first = 0; first < kLines; first += kWindow) {
        for (size_t at = 0; at < kWindow; ++at) {
            source.Next(first + at, window[at].first, window[at].second);
            textBytes += window[at].second.size();
        }
        const auto start = TClock::now();
        for (const auto& [kind, text] : window) {
            log.Append(kind, text);
            if (view) {
                view->LinesAppended();
            }
        }
        if (view) {
            QApplication::processEvents();
        }
        const auto spent = std::chrono::duration<double, std::nano>(TClock::now() - start);
        windowNs.push_back(spent.count() / kWindow);
    }
    const double appendSeconds = SecondsSince(appendStart);
    const long residentAfter = ResidentBytes();

    const double early = windowNs.front();
    const double late = windowNs.back();
    const std::vector<double> earlyTen(windowNs.begin(), windowNs.begin() + 10);
    const std::vector<double> lateTen(windowNs.end() - 10, windowNs.end());
    std::printf("bench-log: %zu lines, %.1f bytes of text per line on average, %s\n", log.Size(),
                static_cast<double>(textBytes) / static_cast<double>(kLines),
                withWindow ? "log model and window view" : "log model");
    Figure("append, mean over lines 0..1000", "%8.1f ns", early);
    Figure("append, mean over lines 999000..1000000", "%8.1f ns", late);
    Figure("append, late / early", "%8.2f", late / early);
    Figure("append, median of first ten windows", "%8.1f ns", Median(earlyTen));
    Figure("append, median of last ten windows", "%8.1f ns", Median(lateTen));
    Figure("append, late / early by medians", "%8.2f", Median(lateTen) / Median(earlyTen));
    Figure("making and appending all lines", "%8.3f s", appendSeconds);
    if (residentBefore < 0 || residentAfter < 0) {
        std::fprintf(stderr, "bench-log: /proc/self/statm unreadable\n");
        return 1;
    }
    const auto growth = static_cast<double>(residentAfter - residentBefore);
    Figure("resident memory growth", "%8.1f MB", growth / 1e6);
    Figure("resident memory growth per line", "%8.1f bytes", growth / static_cast<double>(kLines));

    const bool saved =
        TimeSave(log, "save as text, CP1251 with CR LF", ".txt",
                 [](const TLogModel& model, std::ostream& out) { WriteLogText(model, out); }) &&
        TimeSave(log, "save as RTF", ".rtf",
                 [](const TLogModel& model, std::ostream& out) { WriteLogRtf(model, out); });
    return saved ? 0 : 1;
}
