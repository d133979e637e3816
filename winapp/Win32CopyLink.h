#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "OneCopy.h"
#include "ProgramMarker.h"
#include "Win32MessageWindow.h"

// The window's one copy on Windows: the window's marker (a named mutex of the session and user)
// and a hidden window of the first copy, found by its title, to which a later start sends a
// registered message after it has allowed the first to take the foreground. Made on the GUI
// thread, whose message loop delivers the message.
class TWin32CopyLink : public TCopyLink {
public:
    TWin32CopyLink();

    TMarkerState Claim() override;
    std::string Error() const override { return Error_; }
    TFirstAnswer AskFirstToShow() override;
    bool ListenForLaterStarts(std::function<bool()> asked) override;

private:
    const UINT ShowMessage;
    std::unique_ptr<TProgramMarker> Marker;
    std::unique_ptr<TMessageWindow> Window;
    std::function<bool()> Asked;
    std::string Error_;
};
