#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The bridge's programs that mark that they run.
enum class TMarkedProgram {
    Window,
    Headless,
};

enum class TMarkerState {
    Held,
    // Another window of this user holds the window's marker: this start is a second copy.
    HeldElsewhere,
    // The marker could not be made (Error says why); the program runs without it.
    Failed,
};

// The sign that a program of the bridge runs, held while the object lives and let go by the
// system however the process ends (killed, crashed), so that nothing stale is left to take over:
// an open-file-description lock on a file in the user's runtime folder on Linux, a named mutex on
// Windows. The window's marker is one per user (a second window finds it held elsewhere);
// modbus-bridged's is shared by every copy. Others read the markers to name the program that
// holds the bridge's port.
class TProgramMarker {
public:
    explicit TProgramMarker(TMarkedProgram program);
    ~TProgramMarker();
    TProgramMarker(const TProgramMarker&) = delete;
    TProgramMarker& operator=(const TProgramMarker&) = delete;

    TMarkerState State() const { return State_; }
    const std::string& Error() const { return Error_; }

private:
    TMarkerState State_ = TMarkerState::Failed;
    std::string Error_;
    // What is held until the end: descriptors on Linux, mutex handles on Windows.
    std::vector<intptr_t> Holds;
};

// The program of the bridge other than the asking one that holds its marker now, as the start
// lines name it ("modbus-bridge (окно)", "modbus-bridged"); empty when none does. The window asks
// about modbus-bridged only (its own marker is its), modbus-bridged about the window first.
std::string MarkedPortHolder(TMarkedProgram asking);

// Where a later start of the window reaches the running one: the path of a local socket beside
// the marker on Linux, the title of a hidden window on Windows.
std::string FirstCopyAddress();
