#pragma once

#include <string>
#include <string_view>

// Case rules of protocol names (HTTP header fields, host names, origins, INI sections and keys):
// ASCII letters only, whatever the process's locale says.
char LowerAscii(char c);
std::string LowerAscii(std::string text);
bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right);
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);
