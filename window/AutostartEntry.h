#pragma once

#include <optional>
#include <string>
#include <string_view>

// The texts of the entry that starts the window at login, and the program each one names; no
// files, no registry, so both platforms' texts are tested on both. Paths are UTF-8.

// The option the entry starts the window with: hidden in the tray, or minimized where the
// desktop has none.
inline constexpr std::string_view kStartMinimizedOption = "--minimized";

// The XDG autostart file (~/.config/autostart/modbus-bridge.desktop) that starts the program at
// this path. The path is quoted and escaped as desktop entries require, so any folder name
// (spaces, quotes, dollar signs, backslashes, per cent signs) starts that very program, and
// TryExec makes the desktop skip an entry whose program has gone.
std::string XdgAutostartText(std::string_view programPath);
// The program that such a file starts (its Exec line's first word, unquoted and unescaped);
// none when it has no Exec line.
std::optional<std::string> ProgramOfXdgAutostart(std::string_view text);

// The value under HKCU\Software\Microsoft\Windows\CurrentVersion\Run that starts the program at
// this path: its path in quotes, then the option.
std::string RunValueText(std::string_view programPath);
// The program that such a value starts: the quoted first word, or the text up to the first
// blank when it is not quoted; none when the value is empty.
std::optional<std::string> ProgramOfRunValue(std::string_view value);
