#pragma once

#include <string>

// The settings file of a program: its own path with ".ini" in place of its extension, beside it;
// for an installed copy (below /usr) or one whose folder cannot be written, the same name in the
// user's configuration folder, unless a file is already beside it.
std::string SettingsFilePath(const std::string& programPath);

// The folder the save dialog starts in: "save" beside a copy whose folder can be written, or
// "modbus-bridge" in the user's documents folder for an installed copy (below /usr) or one whose
// folder cannot be written.
std::string SaveFolderPath(const std::string& programPath);
