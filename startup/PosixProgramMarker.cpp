#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ProgramMarker.h"

namespace {

// The user's runtime folder (XDG_RUNTIME_DIR), which only the user can enter and the system
// empties at logout; without one, a folder of the user's own in /tmp. Empty, with the reason,
// when that folder is not the user's alone: a marker there could be held by anyone.
std::string MarkerFolder(std::string* error = nullptr) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime != nullptr && runtime[0] == '/'
                                   ? std::string(runtime) + "/modbus-bridge"
                                   : "/tmp/modbus-bridge-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error != nullptr) {
            *error = folder + ": " + std::strerror(errno);
        }
        return {};
    }
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != getuid() || (status.st_mode & 077) != 0) {
        if (error != nullptr) {
            *error = folder + " is not a folder of this user's alone";
        }
        return {};
    }
    return folder;
}

std::string MarkerPath(const std::string& folder, TMarkedProgram program) {
    return folder + (program == TMarkedProgram::Window ? "/window.lock" : "/bridged.lock");
}

// Open-file-description locks: let go when the last descriptor of the open file closes, which
// the kernel does for a process that ends however it ends; tested without being taken.
flock WholeFile(short type) {
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

bool MarkerHeld(const std::string& folder, TMarkedProgram program) {
    const int descriptor = open(MarkerPath(folder, program).c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    flock lock = WholeFile(F_WRLCK);
    const bool held = fcntl(descriptor, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(descriptor);
    return held;
}

}  // namespace

TProgramMarker::TProgramMarker(TMarkedProgram program) {
    const std::string folder = MarkerFolder(&Error_);
    if (folder.empty()) {
        return;
    }
    const std::string path = MarkerPath(folder, program);
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        Error_ = path + ": " + std::strerror(errno);
        return;
    }
    flock lock = WholeFile(program == TMarkedProgram::Window ? F_WRLCK : F_RDLCK);
    if (fcntl(descriptor, F_OFD_SETLK, &lock) != 0) {
        const int failure = errno;
        close(descriptor);
        if (failure == EAGAIN || failure == EACCES) {
            State_ = TMarkerState::HeldElsewhere;
        } else {
            Error_ = path + ": " + std::strerror(failure);
        }
        return;
    }
    Holds.push_back(descriptor);
    State_ = TMarkerState::Held;
}

TProgramMarker::~TProgramMarker() {
    for (const intptr_t descriptor : Holds) {
        close(static_cast<int>(descriptor));
    }
}

std::string MarkedPortHolder(TMarkedProgram asking) {
    const std::string folder = MarkerFolder();
    if (folder.empty()) {
        return {};
    }
    if (asking != TMarkedProgram::Window && MarkerHeld(folder, TMarkedProgram::Window)) {
        return "modbus-bridge (окно)";
    }
    if (MarkerHeld(folder, TMarkedProgram::Headless)) {
        return "modbus-bridged";
    }
    return {};
}

std::string FirstCopyAddress() {
    const std::string folder = MarkerFolder();
    return folder.empty() ? std::string() : folder + "/window.socket";
}
