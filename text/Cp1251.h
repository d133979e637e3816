#pragma once

#include <string>
#include <string_view>

// Every byte read as a Windows-1251 character.
std::string Cp1251ToUtf8(std::string_view text);

// Every well-formed UTF-8 sequence unchanged, every other byte read as Windows-1251: pages
// written today send UTF-8, older ones the Cyrillic code page, and one text may hold both.
std::string AsUtf8(std::string_view text);

// UTF-8 text in Windows-1251, appended. Every character the code page lacks and every broken
// UTF-8 piece becomes "?", and the conversion goes on after it.
void AppendAsCp1251(std::string& out, std::string_view utf8);
