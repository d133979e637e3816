#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// SIGINT and SIGTERM as an event of the thread that owns the object, so that a logout or a
// service stop ends the program through its ordinary shutdown. BlockStopSignals must run before
// any thread starts, so that no thread is interrupted by them.
class TStopSignals : public QObject {
public:
    static bool BlockStopSignals();

    explicit TStopSignals(std::function<void()> onStop, QObject* parent = nullptr);
    ~TStopSignals() override;

    bool Ready() const { return SignalFd >= 0; }

private:
    int SignalFd = -1;
    QSocketNotifier* Notifier = nullptr;
    std::function<void()> OnStop;
};
