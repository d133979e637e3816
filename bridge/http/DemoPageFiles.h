#pragma once

#include <span>
#include <string_view>

// A file compiled into the program: the name it is served by and its bytes.
struct TEmbeddedFile {
    std::string_view Name;
    std::string_view Bytes;
};

// The files of the bridge's own page, made from web/ at build time (cmake/EmbedFiles.cmake):
// names relative to the page's folder, such as "index.html" and "client/modbus-bridge.js".
std::span<const TEmbeddedFile> DemoPageFiles();
