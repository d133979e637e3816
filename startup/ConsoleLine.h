#pragma once

#include <cstdio>
#include <string_view>

// Writes one line of UTF-8 text and its line end to a standard stream at once, unbuffered, so
// that a reader of a pipe or a file sees whole lines as they come. The caller keeps lines of
// several threads apart. Linux: the bytes and LF (PosixConsoleLine.cpp). Windows
// (Win32ConsoleLine.cpp): to a console as UTF-16 through WriteConsoleW, so that Cyrillic reads
// right whatever the console's code page; to a file or a pipe as UTF-8 bytes and CR LF, the line
// end of Windows text files.
void WriteConsoleLine(std::FILE* stream, std::string_view line);
