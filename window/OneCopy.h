#pragma once

#include <functional>
#include <string>

#include "ProgramMarker.h"

// How a start of the window reaches a copy of the same user that already runs, whatever the
// platform: the window's marker (TProgramMarker), and a local socket on Linux or a message to a
// hidden window on Windows.
class TCopyLink {
public:
    virtual ~TCopyLink() = default;

    // Takes the window's marker; once.
    virtual TMarkerState Claim() = 0;
    // Why the marker or the way in could not be made.
    virtual std::string Error() const = 0;
    // The copy that holds the marker is asked to show its window, waiting a few seconds for it
    // to listen (it may be starting); true once it has shown it.
    virtual bool AskFirstToShow() = 0;
    // The first copy: from now on each later start's request comes to asked, on the GUI thread.
    // False when later starts cannot reach this copy.
    virtual bool ListenForLaterStarts(std::function<void()> asked) = 0;
};

// What a start does after it asked whether it is the first copy.
struct TOneCopyStart {
    bool Run = true;
    int ExitStatus = 0;
    // For standard error: why a start that runs keeps no single copy, or why one ends without
    // the first copy's answer. Empty when there is nothing to say.
    std::string Message;
};

// The first start of the user's window runs and brings its window into sight (showWindow, the
// way the tray's "Показать окно" does) each time a later start asks; a later start asks and ends
// at once, before it opens a port or writes the settings. A later start at login (minimized)
// leaves the running window as it is. Where the marker cannot be made, the window runs as it
// did before there was one.
TOneCopyStart StartAsOneCopy(TCopyLink& link, bool minimized, std::function<void()> showWindow);
