#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// A program started for a test, with its standard output and error on pipes. Every wait is
// bounded, so a broken peer fails the test instead of hanging it. Ended with SIGTERM at the end.
class TChildProcess {
public:
    TChildProcess() = default;
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    bool Start(const std::string& program, const std::vector<std::string>& arguments);

    // The next line on standard output (or error), without its line end; none after timeoutMs.
    std::optional<std::string> ReadLine(int timeoutMs);
    std::optional<std::string> ReadErrorLine(int timeoutMs);

    // Waits for a line that contains the text; none when the stream ends or the time runs out.
    std::optional<std::string> WaitForLine(const std::string& text, int timeoutMs);
    std::optional<std::string> WaitForErrorLine(const std::string& text, int timeoutMs);

    // Sends SIGTERM and reaps the program; its exit status, or none when it had to be killed.
    std::optional<int> Stop();
    pid_t Pid() const { return pid_; }

private:
    struct TStream {
        int Fd = -1;
        std::string Pending;
    };
    static std::optional<std::string> ReadLineFrom(TStream& stream, int timeoutMs);
    static std::optional<std::string> WaitForLineIn(TStream& stream, const std::string& text,
                                                    int timeoutMs);

    pid_t pid_ = -1;
    TStream out_;
    TStream err_;
};

// modbus-sim started with the options; Port is the path it printed.
struct TSimulator {
    TChildProcess Process;
    std::string Port;

    bool Start(const std::vector<std::string>& options);
};
