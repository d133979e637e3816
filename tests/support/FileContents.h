#pragma once

#include <string>

// The bytes of a file, read apart from the code under test; empty when it cannot be read. The
// path is UTF-8, as the program's paths are.
std::string FileContents(const std::string& path);
