#pragma once

#include <string>

// The settings file of a program: its own path with ".ini" in place of its extension, beside it;
// when that folder cannot be written (an installed copy), the same name in the user's
// configuration folder.
std::string SettingsFilePath(const std::string& programPath);
