#pragma once

#include <sys/types.h>

#include <csignal>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A program started for a test with its standard output and error on pipes. Every wait is
// bounded, so a broken program fails the test instead of hanging it; one still running at the
// end gets its stop signal, and SIGKILL if that does not end it.
class TSpawnedProgram {
public:
    TSpawnedProgram() = default;
    ~TSpawnedProgram() { Stop(); }
    TSpawnedProgram(const TSpawnedProgram&) = delete;
    TSpawnedProgram& operator=(const TSpawnedProgram&) = delete;
    // Takes over the other's program, which is left with none.
    TSpawnedProgram(TSpawnedProgram&& other) noexcept
        : pid_(std::exchange(other.pid_, -1)),
          exitFd_(std::exchange(other.exitFd_, -1)),
          stopSignal_(other.stopSignal_),
          out_(std::exchange(other.out_, {})),
          err_(std::exchange(other.err_, {})) {}

    // Starts the program; the object may start another once the last one has ended.
    bool Start(const std::string& program, const std::vector<std::string>& arguments);

    // The next line without its line end; none once the stream has ended or after timeoutMs.
    std::optional<std::string> ReadLine(int timeoutMs) { return ReadLineFrom(out_, timeoutMs); }
    std::optional<std::string> ReadErrorLine(int timeoutMs) {
        return ReadLineFrom(err_, timeoutMs);
    }

    // Reads lines until one contains the text; that line, or none.
    std::optional<std::string> WaitForLine(const std::string& text, int timeoutMs) {
        return WaitForLineIn(out_, text, timeoutMs);
    }
    std::optional<std::string> WaitForErrorLine(const std::string& text, int timeoutMs) {
        return WaitForLineIn(err_, text, timeoutMs);
    }

    // Waits for the program to end by itself; its exit status, or none when it did not end in
    // time or ended by a signal. One that did not end is left running. Output stays readable.
    std::optional<int> WaitForExit(int timeoutMs);

    // Sends the stop signal (SIGTERM unless set) and reaps the program; its exit status, or none
    // when it had to be killed or had been reaped already.
    std::optional<int> Stop();
    // Sends the stop signal and returns at once.
    void RequestStop() const;
    void SetStopSignal(int signal) { stopSignal_ = signal; }

    pid_t Pid() const { return pid_; }

private:
    struct TStream {
        int Fd = -1;
        std::string Pending;
    };

    static std::optional<std::string> ReadLineFrom(TStream& stream, int timeoutMs);
    static std::optional<std::string> WaitForLineIn(TStream& stream, const std::string& text,
                                                    int timeoutMs);
    std::optional<int> Reap(int timeoutMs);
    void CloseStreams();

    pid_t pid_ = -1;
    int exitFd_ = -1;
    int stopSignal_ = SIGTERM;
    TStream out_;
    TStream err_;
};

// modbus-sim started with the options; Port is the terminal path it printed first.
struct TRunningSim {
    TSpawnedProgram Process;
    std::string Port;

    bool Start(const std::vector<std::string>& options);
};
