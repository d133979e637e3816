#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "LogLine.h"

// Every line of the event log since start-up, compactly: the source of truth for saving, while
// the window shows only the newest lines. Lines are only ever appended; a line's text is the
// plain-text form (time stamp, TAB, prefix, text; or the date line) without its line end.
class TLogModel {
public:
    struct TLine {
        TLogKind Kind;
        std::string_view Text;
    };

    TLogModel();
    ~TLogModel();
    TLogModel(const TLogModel&) = delete;
    TLogModel& operator=(const TLogModel&) = delete;

    void Append(TLogKind kind, std::string_view text);
    size_t Size() const;
    // The text stays valid as long as the model lives.
    TLine Line(size_t index) const;

private:
    struct TStorage;
    std::unique_ptr<TStorage> Storage;
};
