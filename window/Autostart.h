#pragma once

#include <string>

// The entry that starts the window when its user logs in, for the program at programPath
// (UTF-8), one file per platform: on Linux the XDG autostart file modbus-bridge.desktop in the
// user's autostart folder (PosixAutostart.cpp), on Windows the value "modbus-bridge" under
// HKCU\Software\Microsoft\Windows\CurrentVersion\Run (Win32Autostart.cpp). Its texts are
// AutostartEntry's.
class TAutostart {
public:
    // place: the autostart folder on Linux, the registry key below HKEY_CURRENT_USER on Windows;
    // empty for the system's (on Linux $XDG_CONFIG_HOME/autostart, else ~/.config/autostart).
    // Tests give their own.
    explicit TAutostart(std::string programPath, std::string place = {});

    // Whether the entry is there and starts this program (an entry of another copy does not
    // count, and Enable puts this one in its place).
    bool Enabled() const;
    // Writes the entry; empty, or why it could not be written.
    std::string Enable();
    // Removes the entry; empty, or why it could not be removed. An entry that is not there is
    // no failure.
    std::string Disable();
    // The file or the registry value, as the log names it.
    std::string Where() const;

private:
    std::string ProgramPath;
    std::string Place;
};
