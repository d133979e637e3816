#pragma once

#include <string>

// The running program's own file, in UTF-8 however long; its settings follow it. Read from the
// system, so it is known before any toolkit starts.
std::string ProgramFilePath();

// The settings file of a program: its own path with ".ini" in place of its extension, beside it;
// for an installed copy (below /usr, or below Program Files on Windows) or one whose folder
// cannot be written, the same name in the user's configuration folder (on Windows the roaming
// application data, in a folder named after the program), unless a file is already beside it.
// Paths are UTF-8.
std::string SettingsFilePath(const std::string& programPath);

// The folder the save dialog starts in: "save" beside a copy whose folder can be written, or
// "modbus-bridge" in the user's documents folder for an installed copy or one whose folder
// cannot be written.
std::string SaveFolderPath(const std::string& programPath);
