#pragma once

#include <functional>

struct tagMSG;

// The main thread's event loop on Windows: every message of the thread goes to its window's
// procedure, so the message-only windows of the inbox, the server and the termination requests
// are served, and the main window of the window program. That program passes takeKey, which sees
// each message first and keeps the keys of its window's own (true: handled, not translated nor
// dispatched). No windows.h here, so that the link's headers, whose names the system's macros
// would take, can be used beside it.
int RunMessageLoop(const std::function<bool(const tagMSG& message)>& takeKey = {});
// Ends RunMessageLoop with the exit code, once the messages before have been handled.
void QuitMessageLoop(int exitCode);
