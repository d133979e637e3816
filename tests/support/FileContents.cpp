#include "FileContents.h"

#include <fstream>
#include <sstream>

#include "Utf8Path.h"

std::string FileContents(const std::string& path) {
    std::ifstream file(Utf8Path(path), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
