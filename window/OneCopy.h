#pragma once

#include <functional>
#include <string>

#include "ProgramMarker.h"

// What the copy that holds the marker answered a later start.
enum class TFirstAnswer {
    Shown,
    // It ended meanwhile (it was closing) and this start took the marker: it is the first now.
    TakenOver,
    // It did not answer in time (it hangs).
    NoAnswer,
};

// How a start of the window reaches a copy of the same user that already runs, whatever the
// platform: the window's marker (TProgramMarker), and a local socket on Linux or a message to a
// hidden window on Windows.
class TCopyLink {
public:
    virtual ~TCopyLink() = default;

    // Tries to take the window's marker.
    virtual TMarkerState Claim() = 0;
    // Why the marker or the way in could not be made.
    virtual std::string Error() const = 0;
    // The copy that holds the marker is asked to show its window, for a few seconds: it may be
    // starting (not listening yet) or closing (it answers that it is, and lets go of the marker
    // when its process ends, which this start then takes).
    virtual TFirstAnswer AskFirstToShow() = 0;
    // The first copy: from now on each later start's request comes to asked, on the GUI thread,
    // which says whether the window was brought (false: it is closing). False when later starts
    // cannot reach this copy.
    virtual bool ListenForLaterStarts(std::function<bool()> asked) = 0;
};

// What a start does after it asked whether it is the first copy.
struct TOneCopyStart {
    bool Run = true;
    int ExitStatus = 0;
    // For standard error: why a start that runs keeps no single copy, or why one ends without
    // the first copy's answer. Empty when there is nothing to say.
    std::string Message;
};

// The first start of the user's window runs and brings its window into sight each time a later
// start asks (showWindow: TWindowBehaviour::ShowForLaterStart); a later start asks and ends at
// once, before it opens a port or writes the settings, or runs as the first when the first
// ended meanwhile. A later start at login (minimized) leaves the running window as it is. Where
// the marker cannot be made, the window runs as it did before there was one.
TOneCopyStart StartAsOneCopy(TCopyLink& link, bool minimized, std::function<bool()> showWindow);
