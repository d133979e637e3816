#pragma once

#include <QPlainTextEdit>
#include <string_view>

#include "LogLine.h"

// The visible part of the event log: the newest lines with the colours and styles of their
// kinds. The whole log lives in the log model; a text widget that held millions of lines would
// spend most of the program's memory and slow down as it grew.
class TLogView : public QPlainTextEdit {
public:
    static constexpr int kVisibleLines = 10000;

    explicit TLogView(QWidget* parent = nullptr);

    void AppendLine(TLogKind kind, std::string_view text);
    void Clear();
};
