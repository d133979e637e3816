#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// A file system path from UTF-8 text. Paths are UTF-8 inside the program; Windows would read a
// plain narrow string in the ANSI code page, which cannot name a folder such as C:\Users\Иван.
inline std::filesystem::path Utf8Path(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// The UTF-8 text of a path, the inverse of Utf8Path.
inline std::string Utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
