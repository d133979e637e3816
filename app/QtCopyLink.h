#pragma once

#include <QLocalServer>
#include <memory>
#include <string>

#include "OneCopy.h"
#include "ProgramMarker.h"

// The window's one copy on Linux: the window's marker (a lock in the user's runtime folder) and
// a local socket beside it, on which a later start asks the first to show its window. Made after
// the application object, on the GUI thread.
class TQtCopyLink : public TCopyLink {
public:
    TMarkerState Claim() override;
    std::string Error() const override { return Error_; }
    TFirstAnswer AskFirstToShow() override;
    bool ListenForLaterStarts(std::function<bool()> asked) override;

private:
    std::unique_ptr<TProgramMarker> Marker;
    QLocalServer Server;
    std::function<bool()> Asked;
    std::string Error_;
};
