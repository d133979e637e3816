#pragma once

#include <string>
#include <string_view>

// Writes a whole file so that a crash or a power loss at any moment leaves either the old file or
// the new one, never a truncated mix: the content goes to a temporary file in the same folder,
// is flushed to the disk and then renamed over the old file. Missing folders on the way are
// created. A file that existed keeps its permissions (on Windows a new file takes its folder's
// access rights, as every file there does); a symbolic link keeps pointing where it did, and its
// target is replaced. The path is UTF-8. Returns false with the failing step and its reason in
// error.
bool ReplaceFileContent(const std::string& path, std::string_view content, std::string& error);

enum class TFileRead {
    Read,
    // Nothing at the path: for a settings file, the defaults.
    Missing,
    // Something is there that cannot be read (a folder in its place, no permission).
    Failed,
};

// Reads a whole file that ReplaceFileContent writes: the old or the new content, never a part of
// one. Windows cannot replace a file while anyone has it open, so there every copy of the program
// reads and replaces such files in turn, and a copy that keeps reading never starves one that
// writes. The path is UTF-8. Content is set only when the file is read; error says why it could
// not be (the step, the path and the system's reason).
TFileRead ReadFileContent(const std::string& path, std::string& content, std::string& error);
