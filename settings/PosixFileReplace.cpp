#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "FileReplace.h"

namespace {

std::string Failure(const std::string& step, const std::string& path, int number) {
    return step + " " + path + ": " + std::strerror(number);
}

// 0, or the error number of the write that failed.
int WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return errno;
        }
        // A regular file takes at least one byte unless the device is full.
        if (written == 0) {
            return ENOSPC;
        }
        content.remove_prefix(static_cast<size_t>(written));
    }
    return 0;
}

}  // namespace

bool ReplaceFileContent(const std::string& path, std::string_view content, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code code;
    fs::path target(path);
    // The link stays; what it points to is what the user meant to keep up to date.
    if (fs::is_symlink(target, code)) {
        target = fs::weakly_canonical(target, code);
        if (code) {
            error = "resolve " + path + ": " + code.message();
            return false;
        }
    }
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    fs::create_directories(folder, code);
    if (code) {
        error = "create folder " + folder.string() + ": " + code.message();
        return false;
    }

    // One writer per process, so the process id keeps temporary names apart; one left behind by
    // a crash is simply written over by the next process of that id.
    const std::string temporary = target.string() + ".new-" + std::to_string(::getpid());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        error = Failure("create", temporary, errno);
        return false;
    }
    // A settings file the user made private stays private.
    struct stat old {};
    const bool keepMode = ::stat(target.c_str(), &old) == 0;
    // Each step's error number is taken the moment it fails: a later call may change errno.
    int failure = 0;
    if (keepMode && ::fchmod(fd, old.st_mode & 07777) != 0) {
        failure = errno;
    } else if (const int writeFailure = WriteAll(fd, content); writeFailure != 0) {
        failure = writeFailure;
    } else if (::fsync(fd) != 0) {
        failure = errno;
    }
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure != 0) {
        error = Failure("write", temporary, failure);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        error = Failure("rename to", target.string(), errno);
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk only with the folder's entry.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

TFileRead ReadFileContent(const std::string& path, std::string& content, std::string& error) {
    // A rename over the file leaves an open reader with the file it opened, so POSIX needs no
    // turns.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return TFileRead::Missing;
        }
        error = Failure("open", path, errno);
        return TFileRead::Failed;
    }
    std::string text;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            // A folder opens for reading and fails here, with EISDIR.
            error = Failure("read", path, errno);
            ::close(fd);
            return TFileRead::Failed;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    content = std::move(text);
    return TFileRead::Read;
}
