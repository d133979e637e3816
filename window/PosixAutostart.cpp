#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Autostart.h"
#include "AutostartEntry.h"
#include "FileReplace.h"

namespace {

constexpr char kFileName[] = "modbus-bridge.desktop";

// The user's autostart folder: $XDG_CONFIG_HOME/autostart when that is an absolute path, else
// autostart in ~/.config.
std::string SystemAutostartFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return std::string(config) + "/autostart";
    }
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && *variable != '\0') {
        home = variable;
    } else if (const passwd* user = getpwuid(getuid()); user != nullptr) {
        home = user->pw_dir;
    }
    return home + "/.config/autostart";
}

}  // namespace

TAutostart::TAutostart(std::string programPath, std::string place)
    : ProgramPath(std::move(programPath)),
      Place(place.empty() ? SystemAutostartFolder() : std::move(place)) {}

std::string TAutostart::Where() const {
    return Place + "/" + kFileName;
}

bool TAutostart::Enabled() const {
    std::string text;
    std::string error;
    if (ReadFileContent(Where(), text, error) != TFileRead::Read) {
        return false;
    }
    return ProgramOfXdgAutostart(text) == ProgramPath;
}

std::string TAutostart::Enable() {
    std::string error;
    if (!ReplaceFileContent(Where(), XdgAutostartText(ProgramPath), error)) {
        return "Cannot create file " + Where() + ": " + error;
    }
    return {};
}

std::string TAutostart::Disable() {
    if (unlink(Where().c_str()) != 0 && errno != ENOENT) {
        return "Cannot delete file " + Where() + ": " + std::strerror(errno);
    }
    return {};
}
