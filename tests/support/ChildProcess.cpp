#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace {

int RemainingMs(std::chrono::steady_clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

TChildProcess::~TChildProcess() {
    Stop();
}

bool TChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);

    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argvText) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    const int spawned =
        posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    out_.Fd = outPipe[0];
    err_.Fd = errPipe[0];
    if (spawned != 0) {
        pid_ = -1;
        return false;
    }
    return true;
}

std::optional<std::string> TChildProcess::ReadLineFrom(TStream& stream, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t newline = stream.Pending.find('\n');
        if (newline != std::string::npos) {
            std::string line = stream.Pending.substr(0, newline);
            stream.Pending.erase(0, newline + 1);
            return line;
        }
        if (stream.Fd < 0) {
            return std::nullopt;
        }
        pollfd readable{stream.Fd, POLLIN, 0};
        const int ready = poll(&readable, 1, RemainingMs(end));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char buffer[4096];
        const ssize_t got = read(stream.Fd, buffer, sizeof buffer);
        if (got <= 0) {
            close(stream.Fd);
            stream.Fd = -1;
            continue;
        }
        stream.Pending.append(buffer, static_cast<size_t>(got));
    }
}

std::optional<std::string> TChildProcess::WaitForLineIn(TStream& stream, const std::string& text,
                                                        int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (auto line = ReadLineFrom(stream, RemainingMs(end))) {
        if (line->find(text) != std::string::npos) {
            return line;
        }
    }
    return std::nullopt;
}

std::optional<std::string> TChildProcess::ReadLine(int timeoutMs) {
    return ReadLineFrom(out_, timeoutMs);
}

std::optional<std::string> TChildProcess::ReadErrorLine(int timeoutMs) {
    return ReadLineFrom(err_, timeoutMs);
}

std::optional<std::string> TChildProcess::WaitForLine(const std::string& text, int timeoutMs) {
    return WaitForLineIn(out_, text, timeoutMs);
}

std::optional<std::string> TChildProcess::WaitForErrorLine(const std::string& text, int timeoutMs) {
    return WaitForLineIn(err_, text, timeoutMs);
}

std::optional<int> TChildProcess::Stop() {
    std::optional<int> status;
    if (pid_ > 0) {
        // A program that does not end within five seconds of SIGTERM is killed.
        const int exitFd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        kill(pid_, SIGTERM);
        if (exitFd >= 0) {
            pollfd exited{exitFd, POLLIN, 0};
            while (poll(&exited, 1, 5000) < 0 && errno == EINTR) {
            }
            close(exitFd);
        }
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) {
            if (WIFEXITED(raw)) {
                status = WEXITSTATUS(raw);
            }
        } else {
            kill(pid_, SIGKILL);
            waitpid(pid_, &raw, 0);
        }
        pid_ = -1;
    }
    for (TStream* stream : {&out_, &err_}) {
        if (stream->Fd >= 0) {
            close(stream->Fd);
            stream->Fd = -1;
        }
    }
    return status;
}

bool TSimulator::Start(const std::vector<std::string>& options) {
    if (!Process.Start(MODBUS_SIM_PATH, options)) {
        return false;
    }
    const auto line = Process.ReadLine(5000);
    if (!line || line->empty()) {
        return false;
    }
    Port = *line;
    return true;
}
