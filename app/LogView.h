#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "LogModel.h"

class QLabel;

// The event log on screen: every line of the log model, drawn with the colours and styles of its
// kind. Only the rows in sight are ever laid out, so an append costs the same at a million lines
// as at the first, and the view holds no copy of the text. Whole lines are selected with the
// mouse (Shift extends, Ctrl+A takes all) and copied with Ctrl+C. When the model drops its
// oldest lines, the selection and the lines in sight move with the lines that stay. One
// information line at the top (SetNotice) says how many went and where they are kept.
class TLogView : public QAbstractScrollArea {
public:
    explicit TLogView(const TLogModel& log, QWidget* parent = nullptr);

    // Call after lines were appended to the model.
    void LinesAppended();
    // The information line above the lines; empty hides it.
    void SetNotice(const QString& text);
    QString NoticeText() const;
    // The selected lines as text, one per line.
    QString SelectedText() const;
    void SelectAll();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int RowHeight() const;
    int VisibleRows() const;
    size_t RowAt(int y) const;
    void UpdateScrollRanges();
    void CopySelection() const;
    void ForgetDroppedLines();
    void PlaceNotice();
    // Runs a change of the scroll range or position that the view makes itself, which says
    // nothing about where the operator wants to be.
    template <typename TChange>
    void Adjust(TChange change);

    const TLogModel& Log;
    QFont LineFont;
    size_t Shown = 0;
    // Widest line so far in characters, for the horizontal scroll range.
    size_t WidestColumns = 0;
    size_t SelectionAnchor = 0;
    size_t SelectionEnd = 0;
    bool HasSelection = false;
    uint64_t DroppedSeen = 0;
    QLabel* Notice = nullptr;
    // The view shows the newest line as lines come until the operator scrolls away from the
    // bottom, and again once they scroll back; bars shown above the log, resizes and dropped
    // lines change the range but not this.
    bool Following = true;
    bool Adjusting = false;
};
