#include <windows.h>

#include <chrono>

#include "TestEventLoop.h"

struct TTestEventLoop::TParts {};

TTestEventLoop::TTestEventLoop(int&, char**) {}

TTestEventLoop::~TTestEventLoop() = default;

bool RunUntil(const std::function<bool()>& condition, int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (condition() || std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        // Wakes for the next message, or looks at the condition again a moment later.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
}
