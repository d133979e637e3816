#pragma once

#include <QObject>
#include <functional>
#include <string>

class QSocketNotifier;

// SIGINT and SIGTERM as an event of the thread that owns the object, so that a logout or a
// service stop ends the program through its ordinary shutdown. Block must run before any thread
// starts, so that no thread is interrupted by them. (The link's TStopSignal is another thing: it
// wakes the worker's waits on the serial port.)
class TTerminationSignals : public QObject {
public:
    static bool Block();

    explicit TTerminationSignals(std::function<void()> onStop, QObject* parent = nullptr);
    ~TTerminationSignals() override;

    bool Ready() const { return SignalFd >= 0; }
    // Why the signals cannot be received when not ready: the failing call and its reason.
    const std::string& SetupError() const { return Error; }

private:
    int SignalFd = -1;
    std::string Error;
    QSocketNotifier* Notifier = nullptr;
    std::function<void()> OnStop;
};
