#pragma once

#include <functional>
#include <memory>
#include <string>

// The requests of the system and the user to end the program, as an event of the thread that
// owns the object, so that a logout, a service stop or Ctrl+C ends the program through its
// ordinary shutdown. On Linux SIGINT and SIGTERM (signalfd); on Windows the console's control
// events (Ctrl+C, Ctrl+Break, closing the console window, logoff, shutdown) and the session's end
// and a close request (WM_ENDSESSION, WM_CLOSE) to a hidden window. The link's TStopSignal is
// another thing: it wakes the worker's waits on the serial port.
class TTerminationSignals {
public:
    // Linux: blocks SIGINT and SIGTERM in the calling thread; it must run before any thread
    // starts, so that no thread is interrupted by them. Nothing to do on Windows.
    static bool Block();

    // onStop runs on the owning thread once for each request to end (on Windows once in all):
    // it must carry out the shutdown before it returns, since Windows ends the process soon
    // after some of these events.
    explicit TTerminationSignals(std::function<void()> onStop);
    ~TTerminationSignals();
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

    bool Ready() const;
    // Why the requests cannot be received when not ready: the failing call and its reason.
    const std::string& SetupError() const { return Error; }

    // The platform's part: PosixTerminationSignals.cpp (Linux), Win32TerminationSignals.cpp.
    class TReceiver;

private:
    std::string Error;
    std::function<void()> OnStop;
    std::unique_ptr<TReceiver> Receiver;
};
