#include "OneCopy.h"

#include <utility>

TOneCopyStart StartAsOneCopy(TCopyLink& link, bool minimized, std::function<void()> showWindow) {
    switch (link.Claim()) {
        case TMarkerState::Held:
            if (!link.ListenForLaterStarts(std::move(showWindow))) {
                return {true, 0,
                        "a later start cannot reach this window (" + link.Error() +
                            "); it will find the port taken"};
            }
            return {};
        case TMarkerState::HeldElsewhere:
            if (minimized || link.AskFirstToShow()) {
                return {false, 0, {}};
            }
            return {
                false, 1,
                "the window runs already but did not answer (" + link.Error() + "); not started"};
        case TMarkerState::Failed:
            break;
    }
    return {true, 0, "one window per user cannot be kept (" + link.Error() + ")"};
}
