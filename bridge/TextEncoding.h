#pragma once

#include <string>
#include <string_view>

bool IsValidUtf8(std::string_view text);

// Every byte read as a Windows-1251 character.
std::string Cp1251ToUtf8(std::string_view text);

// Text that is valid UTF-8 unchanged, any other text read as Windows-1251: pages written today
// send UTF-8, older ones the Cyrillic code page.
std::string AsUtf8(std::string_view text);
