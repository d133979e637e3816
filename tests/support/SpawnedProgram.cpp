#include "SpawnedProgram.h"

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

constexpr int kStopBoundMs = 5000;
constexpr int kStartLineBoundMs = 5000;

int RemainingMs(std::chrono::steady_clock::time_point end) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Through syscall: the C library header for it lacks C linkage for C++ here.
int OpenPidFd(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

bool TSpawnedProgram::Start(const std::string& program, const std::vector<std::string>& arguments) {
    // The output of a program started before, read or not, is not this one's.
    CloseStreams();
    out_.Pending.clear();
    err_.Pending.clear();
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

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
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
    exitFd_ = OpenPidFd(pid_);
    return exitFd_ >= 0;
}

std::optional<std::string> TSpawnedProgram::ReadLineFrom(TStream& stream, int timeoutMs) {
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
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            close(stream.Fd);
            stream.Fd = -1;
            continue;
        }
        stream.Pending.append(buffer, static_cast<size_t>(got));
    }
}

std::optional<std::string> TSpawnedProgram::WaitForLineIn(TStream& stream, const std::string& text,
                                                          int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::optional<std::string> line = ReadLineFrom(stream, RemainingMs(end))) {
        if (line->find(text) != std::string::npos) {
            return line;
        }
    }
    return std::nullopt;
}

std::optional<int> TSpawnedProgram::Reap(int timeoutMs) {
    pollfd exited{exitFd_, POLLIN, 0};
    int ready = 0;
    do {
        ready = poll(&exited, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    int raw = 0;
    if (ready <= 0 || waitpid(pid_, &raw, 0) != pid_) {
        return std::nullopt;
    }
    pid_ = -1;
    close(exitFd_);
    exitFd_ = -1;
    if (!WIFEXITED(raw)) {
        return std::nullopt;
    }
    return WEXITSTATUS(raw);
}

std::optional<int> TSpawnedProgram::WaitForExit(int timeoutMs) {
    if (pid_ <= 0 || exitFd_ < 0) {
        return std::nullopt;
    }
    return Reap(timeoutMs);
}

void TSpawnedProgram::RequestStop() const {
    if (pid_ > 0) {
        kill(pid_, stopSignal_);
    }
}

std::optional<int> TSpawnedProgram::Stop() {
    std::optional<int> status;
    if (pid_ > 0) {
        kill(pid_, stopSignal_);
        if (exitFd_ >= 0) {
            status = Reap(kStopBoundMs);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            int raw = 0;
            waitpid(pid_, &raw, 0);
            pid_ = -1;
        }
    }
    if (exitFd_ >= 0) {
        close(exitFd_);
        exitFd_ = -1;
    }
    CloseStreams();
    return status;
}

void TSpawnedProgram::CloseStreams() {
    for (TStream* stream : {&out_, &err_}) {
        if (stream->Fd >= 0) {
            close(stream->Fd);
            stream->Fd = -1;
        }
    }
}

bool TRunningSim::Start(const std::vector<std::string>& options) {
    if (!Process.Start(MODBUS_SIM_PATH, options)) {
        return false;
    }
    const std::optional<std::string> line = Process.ReadLine(kStartLineBoundMs);
    if (!line || line->empty()) {
        return false;
    }
    Port = *line;
    return true;
}
