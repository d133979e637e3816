#pragma once

#include <memory>

#include "MainThreadInbox.h"

// The wake-up of the owning thread's event loop, one realisation per platform. Made on the
// owning thread; Wake may be called from any thread.
class TMainThreadInbox::TWakeUp {
public:
    // Runs the inbox from the event loop after each wake-up; error is set when it cannot.
    static std::unique_ptr<TWakeUp> Make(TMainThreadInbox& inbox, int& error);

    virtual ~TWakeUp() = default;
    virtual bool Ready() const = 0;
    virtual void Wake() = 0;
    // The owner takes the tasks: wake-ups so far are used up.
    virtual void Taken() = 0;
};
