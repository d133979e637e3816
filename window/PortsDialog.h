#pragma once

#include <string>
#include <vector>

#include "PortRows.h"

// The ports dialog ("Сервис" → "Порты…"), whatever toolkit draws it: the serial ports present, with
// what identifies each adapter and the COM numbers that open it, and the [Ports] lines whose
// device is not there. Where adapters have stable paths (Linux), one action keeps an adapter on
// a COM number: [Ports] names its /dev/serial/by-id path, from the next request on.

// The dialog as its behaviour sees it; every call on the GUI thread, texts in UTF-8.
class TPortsView {
public:
    virtual ~TPortsView() = default;
    // The table: PortColumnTitles over each row's PortRowCells. The row chosen stays chosen while
    // its device is there.
    virtual void ShowPorts(const std::vector<TPortRow>& rows) = 0;
    // The line below the table: what the last action did, or (error) why it did not or not all.
    virtual void ShowPortsMessage(const std::string& text, bool error) = 0;
};

// What the dialog reads and changes: the ports present, the window's link and settings file.
class TPortsKeeper {
public:
    virtual ~TPortsKeeper() = default;
    virtual std::vector<TPortRow> PortRows() = 0;
    // What [Ports] has for the number now; empty when it has no line.
    virtual std::string MappedPath(int number) = 0;
    // The number opens the path from the next request on, and [Ports] says so at once. False,
    // with the reason, when that could not be done or not all of it.
    virtual bool MapPort(int number, const std::string& path, std::string& problem) = 0;
};

class TPortsDialog {
public:
    explicit TPortsDialog(TPortsKeeper& keeper) : Keeper(keeper) {}

    // The view that draws the dialog from now on (it gets the table at once); nullptr once it
    // is gone.
    void Attach(TPortsView* view);
    // The ports as they are now: an adapter plugged in or out meanwhile.
    void Refresh();
    // Keeps the adapter at this device path (a row's port) on the COM number typed ("7" or
    // "COM7"): [Ports] names the adapter's stable path for that number.
    void Pin(const std::string& device, const std::string& typedNumber);

    const std::vector<TPortRow>& Rows() const { return Rows_; }

private:
    void Show(const std::string& text, bool error);

    TPortsKeeper& Keeper;
    TPortsView* View = nullptr;
    std::vector<TPortRow> Rows_;
};
