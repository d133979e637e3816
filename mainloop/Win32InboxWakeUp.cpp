// The inbox's wake-up on Windows: a message to a message-only window of the owning thread.
#include <windows.h>

#include <atomic>

#include "InboxWakeUp.h"
#include "Win32MessageWindow.h"

namespace {

constexpr UINT kRunPosted = WM_APP + 1;

class TMessageWakeUp final : public TMainThreadInbox::TWakeUp {
public:
    TMessageWakeUp(TMainThreadInbox& inbox, int& error)
        : Window([&inbox](UINT message, WPARAM, LPARAM, LRESULT&) {
              if (message != kRunPosted) {
                  return false;
              }
              inbox.RunPosted();
              return true;
          }) {
        error = static_cast<int>(Window.SetupError());
    }

    bool Ready() const override { return Window.Handle() != nullptr; }

    // One message waits at a time, however many tasks come, so that a burst of log lines cannot
    // fill the thread's message queue.
    void Wake() override {
        if (Pending.exchange(true)) {
            return;
        }
        if (Window.Handle() == nullptr || !PostMessageW(Window.Handle(), kRunPosted, 0, 0)) {
            Pending = false;
        }
    }

    void Taken() override { Pending = false; }

private:
    TMessageWindow Window;
    std::atomic<bool> Pending{false};
};

}  // namespace

std::unique_ptr<TMainThreadInbox::TWakeUp> TMainThreadInbox::TWakeUp::Make(TMainThreadInbox& inbox,
                                                                           int& error) {
    return std::make_unique<TMessageWakeUp>(inbox, error);
}
