#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>

#include "LogModel.h"

// The event log on screen: a read-only rich-text control (MSFTEDIT_CLASS) holding the newest
// lines of the log model, each in its kind's colours and styles, one line of the model per line
// of the control. The control holds at most a given number of lines; older ones stay in the
// model, which saving writes, and lines the model drops leave the control too. Lines leave the
// control from its top a tenth of the limit at a time: each removal there lays out the lines
// below it again. The view follows new lines until the operator scrolls away from the bottom,
// and again once they scroll back or the view grows to show the whole log; the operator's
// selection and the lines in sight stay with their text, whatever the window's size does.
class TRichEditLog {
public:
    TRichEditLog(HWND parent, int controlId, size_t shownLinesMax);
    ~TRichEditLog();
    TRichEditLog(const TRichEditLog&) = delete;
    TRichEditLog& operator=(const TRichEditLog&) = delete;

    HWND Handle() const { return Control; }

    // Shows the model as it is now: appends its new lines, drops what it dropped.
    void ShowLines(const TLogModel& log);
    // Lines the model holds that the control no longer does (older than those it shows).
    uint64_t LinesOnlyInMemory() const { return ShownFirst - ModelFirst; }
    size_t ShownLines() const { return Lengths.size(); }

    // Moves and sizes the control; the newest line stays in sight if it was.
    void Place(int left, int top, int width, int height);
    // Whether the last line is in sight.
    bool AtBottom() const;

private:
    struct TDropped {
        LONG Characters = 0;
        // Of the text removed: how far the lines below it move up.
        LONG Height = 0;
    };
    // Removes the oldest lines of the control.
    TDropped DropOldest(size_t count);
    void Append(const TLogModel& log, uint64_t end);
    // Shows the last line, at this horizontal place.
    void ScrollToBottom(LONG horizontal);

    const size_t ShownLinesMax;
    const size_t ShownLinesDropped;
    HWND Control = nullptr;
    // The control holds the lines numbered [ShownFirst, ShownEnd) since start-up; their lengths in
    // the control's characters, a paragraph mark each included.
    uint64_t ShownFirst = 0;
    uint64_t ShownEnd = 0;
    uint64_t ModelFirst = 0;
    std::deque<LONG> Lengths;
};
