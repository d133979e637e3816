#pragma once

#include <string>

// The main thread's event loop on Windows for a program without a window of its own to run it
// (the headless bridge): every message of the thread goes to its window's procedure, so the
// message-only windows of the inbox, the server and the termination requests are served. A window
// program runs its own loop instead. No windows.h here, so that the link's headers, whose names
// the system's macros would take, can be used beside it.
int RunMessageLoop();
// Ends RunMessageLoop with the exit code, once the messages before have been handled.
void QuitMessageLoop(int exitCode);

// The running program's own path in UTF-8, however long.
std::string ProgramFilePath();
