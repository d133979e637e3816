#pragma once

#include <string_view>

// WriteConsoleLine to a system handle (a console, a file or a pipe) rather than a C stream: for a
// program without standard streams, which writes to the console it attached to.
void WriteConsoleLineToHandle(void* handle, std::string_view line);
