#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>

#include "LogModel.h"

// The event log on screen: a read-only rich-text control (MSFTEDIT_CLASS) holding the newest
// lines of the log model, each in its kind's colours and styles, one line of the model per line
// of the control. The control holds at most a given number of lines; older ones stay in the
// model, which saving writes, and lines the model drops leave the control too. Taking lines
// from the top of a rich-text control lays out everything below it once per line taken, so
// the control is made anew instead, with the lines that stay streamed in at once: past the
// limit, a quarter of it goes at a time. The view follows new lines until the operator scrolls
// away from the bottom, and again once they scroll back; the operator's selection and the
// lines in sight stay with their text.
class TRichEditLog {
public:
    TRichEditLog(HWND parent, int controlId, size_t shownLinesMax);
    ~TRichEditLog();
    TRichEditLog(const TRichEditLog&) = delete;
    TRichEditLog& operator=(const TRichEditLog&) = delete;

    // The control; a new one after lines left it.
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
    HWND MakeControl(const RECT& place) const;
    void Append(const TLogModel& log, uint64_t end);
    // A new control holding the lines [first, end) of the model in place of the old one.
    void Rebuild(const TLogModel& log, uint64_t first, uint64_t end);
    void ScrollToBottom();

    const HWND Parent;
    const int ControlId;
    const size_t ShownLinesMax;
    const size_t ShownLinesDropped;
    HMODULE Library = nullptr;
    HWND Control = nullptr;
    // The control holds the lines numbered [ShownFirst, ShownEnd) since start-up; their lengths in
    // the control's characters, a paragraph mark each included.
    uint64_t ShownFirst = 0;
    uint64_t ShownEnd = 0;
    uint64_t ModelFirst = 0;
    std::deque<LONG> Lengths;
};
