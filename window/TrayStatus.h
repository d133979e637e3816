#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "BridgeHost.h"
#include "TrayView.h"

// What the tray icon shows, from what happened: whether the server listens and on which port,
// a request under way, how the last one ended, and the page that waits for the operator. No
// toolkit, no clock: the window's behaviour tells it each event on the GUI thread.
class TTrayStatus {
public:
    // The server listens on this port (0: it could not open the port it was given).
    void ServerStarted(uint16_t port, bool listening);
    void RequestBegun();
    // A stopped request (no code) leaves the last result as it was.
    void RequestEnded(const TRequestEnd& end);
    // The origin whose question is in view; empty once none is.
    void Asking(std::string origin);

    TTrayPicture Picture() const;
    // Two or three lines: the program and its port, what the bridge does or how the last request
    // ended, and the page waiting for consent.
    std::string Tooltip() const;

private:
    uint16_t Port = 0;
    bool Listening = false;
    bool Serving = false;
    std::optional<TRequestEnd> Last;
    std::string AskingOrigin;
};
