#include "OneCopy.h"

#include <utility>

TOneCopyStart StartAsOneCopy(TCopyLink& link, bool minimized, std::function<bool()> showWindow) {
    TMarkerState marker = link.Claim();
    if (marker == TMarkerState::HeldElsewhere) {
        if (minimized) {
            return {false, 0, {}};
        }
        switch (link.AskFirstToShow()) {
            case TFirstAnswer::Shown:
                return {false, 0, {}};
            case TFirstAnswer::NoAnswer:
                return {false, 1,
                        "the window runs already but did not answer (" + link.Error() +
                            "); not started"};
            case TFirstAnswer::TakenOver:
                marker = TMarkerState::Held;
                break;
        }
    }
    if (marker == TMarkerState::Failed) {
        return {true, 0, "one window per user cannot be kept (" + link.Error() + ")"};
    }
    if (!link.ListenForLaterStarts(std::move(showWindow))) {
        return {true, 0,
                "a later start cannot reach this window (" + link.Error() +
                    "); it will find the port taken"};
    }
    return {};
}
