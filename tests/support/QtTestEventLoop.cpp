#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

#include "TestEventLoop.h"

struct TTestEventLoop::TParts {
    TParts(int& argc, char** argv) : Application(argc, argv) {}
    QCoreApplication Application;
};

TTestEventLoop::TTestEventLoop(int& argc, char** argv)
    : Parts(std::make_unique<TParts>(argc, argv)) {}

TTestEventLoop::~TTestEventLoop() = default;

bool RunUntil(const std::function<bool()>& condition, int boundMs) {
    QEventLoop loop;
    QTimer check;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition() || std::chrono::steady_clock::now() > deadline) {
            loop.quit();
        }
    });
    check.start(2);
    if (!condition()) {
        loop.exec();
    }
    return condition();
}
