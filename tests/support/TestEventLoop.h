#pragma once

#include <functional>
#include <memory>

// The event loop of a test program's main thread, where a server made on that thread gets its
// events: Qt's on Linux (QtTestEventLoop.cpp), the thread's message loop on Windows
// (Win32TestEventLoop.cpp). Made once, in main.
class TTestEventLoop {
public:
    TTestEventLoop(int& argc, char** argv);
    ~TTestEventLoop();
    TTestEventLoop(const TTestEventLoop&) = delete;
    TTestEventLoop& operator=(const TTestEventLoop&) = delete;

private:
    struct TParts;
    std::unique_ptr<TParts> Parts;
};

// Runs this thread's event loop until the condition holds or the bound passes; whether it holds.
bool RunUntil(const std::function<bool()>& condition, int boundMs = 10000);
