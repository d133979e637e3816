#pragma once

#include <string_view>

// The text without the spaces and tabs at either end, as header values and setting lists are
// read.
std::string_view TrimBlanks(std::string_view text);
