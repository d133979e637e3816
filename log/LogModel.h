#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "LogLine.h"

// The window's limit on the memory of its log unless [Options] LogLimitMB says otherwise: about a
// day and a half of a page that asks once a second, and a window left running for weeks stays
// below 100 MB (bench-log --days 30 --window).
inline constexpr int kDefaultLogLimitMB = 48;

// The newest lines of the event log, compactly: the source of truth for saving, while the window
// shows only the lines in sight. Lines are only ever appended; a line's text is the plain-text
// form (time stamp, TAB, prefix, text; or the date line) without its line end. With a limit, the
// oldest lines are dropped a whole chunk of text at a time once the memory held would pass it,
// so a program that runs for months keeps its newest lines in bounded memory.
class TLogModel {
public:
    struct TLine {
        TLogKind Kind;
        std::string_view Text;
    };

    // No limit: every line is kept.
    static constexpr size_t kUnlimited = SIZE_MAX;

    TLogModel();
    ~TLogModel();
    TLogModel(const TLogModel&) = delete;
    TLogModel& operator=(const TLogModel&) = delete;

    // The memory the lines may hold, text and index together. The newest megabyte of text is
    // always kept, whatever the limit. Takes effect at the next append.
    void SetLimitBytes(size_t bytes);

    void Append(TLogKind kind, std::string_view text);
    // The lines held; index 0 is the oldest line still held.
    size_t Size() const;
    // The lines dropped since start-up to stay within the limit.
    uint64_t Dropped() const;
    // The memory the lines hold now, as counted against the limit.
    size_t HeldBytes() const;
    // The text stays valid until the line is dropped (only an append drops lines).
    TLine Line(size_t index) const;

private:
    struct TStorage;
    std::unique_ptr<TStorage> Storage;
};
