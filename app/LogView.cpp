#include "LogView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextOption>
#include <algorithm>
#include <vector>

namespace {

constexpr int kMargin = 4;
constexpr int kTabColumns = 8;

QColor Rgb(uint32_t rgb) {
    return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>(rgb & 0xFF));
}

// Characters of UTF-8 text, a TAB counted as a full tab stop: enough for the scroll range.
size_t Columns(std::string_view text) {
    size_t columns = 0;
    for (const char c : text) {
        if (c == '\t') {
            columns = (columns / kTabColumns + 1) * kTabColumns;
        } else if ((static_cast<uint8_t>(c) & 0xC0) != 0x80) {
            ++columns;
        }
    }
    return columns;
}

// Line breaks inside a line's text are shown as spaces: one entry, one row.
QString DisplayText(std::string_view text) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QLatin1Char('\r'), QLatin1Char(' '));
    shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return shown;
}

}  // namespace

TLogView::TLogView(const TLogModel& log, QWidget* parent) : QAbstractScrollArea(parent), Log(log) {
    LineFont = QFont(QStringLiteral("Monospace"));
    LineFont.setStyleHint(QFont::Monospace);
    LineFont.setFixedPitch(true);
    LineFont.setPixelSize(14);
    setFont(LineFont);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(true);
    QPalette colours = viewport()->palette();
    colours.setColor(QPalette::Base, Qt::white);
    viewport()->setPalette(colours);

    // Styled as an information line, and kept in sight above the lines.
    Notice = new QLabel(this);
    const TLogStyle& info = LogStyle(TLogKind::Info);
    QFont noticeFont = LineFont;
    noticeFont.setItalic(info.Italic);
    Notice->setFont(noticeFont);
    QPalette noticeColours = Notice->palette();
    noticeColours.setColor(QPalette::WindowText, Rgb(info.Text));
    noticeColours.setColor(QPalette::Window, Rgb(info.Background));
    Notice->setPalette(noticeColours);
    Notice->setAutoFillBackground(true);
    Notice->setContentsMargins(kMargin, 0, kMargin, 0);
    Notice->hide();
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!Adjusting) {
            Following = value == verticalScrollBar()->maximum();
        }
    });
    LinesAppended();
}

template <typename TChange>
void TLogView::Adjust(TChange change) {
    const bool nested = Adjusting;
    Adjusting = true;
    change();
    Adjusting = nested;
}

void TLogView::SetNotice(const QString& text) {
    Notice->setText(text);
    Notice->setVisible(!text.isEmpty());
    PlaceNotice();
}

QString TLogView::NoticeText() const {
    return Notice->text();
}

void TLogView::PlaceNotice() {
    if (Notice->text().isEmpty()) {
        setViewportMargins(0, 0, 0, 0);
        return;
    }
    const int height = RowHeight();
    setViewportMargins(0, height, 0, 0);
    const int frame = frameWidth();
    Notice->setGeometry(frame, frame, viewport()->width(), height);
}

void TLogView::ForgetDroppedLines() {
    const uint64_t dropped = Log.Dropped() - DroppedSeen;
    if (dropped == 0) {
        return;
    }
    DroppedSeen = Log.Dropped();
    const auto shift = [dropped](size_t row) {
        return row > dropped ? row - static_cast<size_t>(dropped) : size_t{0};
    };
    if (HasSelection && std::max(SelectionAnchor, SelectionEnd) < dropped) {
        HasSelection = false;
    }
    SelectionAnchor = shift(SelectionAnchor);
    SelectionEnd = shift(SelectionEnd);
    Shown = shift(Shown);
    // The lines in sight stay in sight while older ones go.
    QScrollBar* vertical = verticalScrollBar();
    Adjust([&] {
        vertical->setValue(static_cast<int>(shift(static_cast<size_t>(vertical->value()))));
    });
}

int TLogView::RowHeight() const {
    return QFontMetrics(LineFont).lineSpacing();
}

int TLogView::VisibleRows() const {
    return std::max(1, viewport()->height() / RowHeight());
}

void TLogView::LinesAppended() {
    ForgetDroppedLines();
    for (size_t index = Shown; index < Log.Size(); ++index) {
        WidestColumns = std::max(WidestColumns, Columns(Log.Line(index).Text));
    }
    Shown = Log.Size();
    UpdateScrollRanges();
    viewport()->update();
}

void TLogView::UpdateScrollRanges() {
    const int rows = VisibleRows();
    const auto lastTop = static_cast<int>(std::min<size_t>(
        Shown > static_cast<size_t>(rows) ? Shown - static_cast<size_t>(rows) : 0, INT32_MAX));
    QScrollBar* vertical = verticalScrollBar();
    Adjust([&] {
        vertical->setRange(0, lastTop);
        if (Following) {
            vertical->setValue(vertical->maximum());
        }
    });
    vertical->setPageStep(rows);
    vertical->setSingleStep(1);
    const int charWidth = QFontMetrics(LineFont).horizontalAdvance(QLatin1Char('0'));
    const auto width = static_cast<int>(std::min<size_t>(WidestColumns + 2, 100000)) * charWidth;
    horizontalScrollBar()->setRange(0, std::max(0, width + 2 * kMargin - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(charWidth);
}

void TLogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
    PlaceNotice();
}

void TLogView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int rowHeight = RowHeight();
    QTextOption layout;
    layout.setWrapMode(QTextOption::NoWrap);
    layout.setTabStopDistance(kTabColumns *
                              QFontMetrics(LineFont).horizontalAdvance(QLatin1Char('0')));
    const auto first = static_cast<size_t>(verticalScrollBar()->value());
    const size_t last = std::min(Shown, first + static_cast<size_t>(VisibleRows()) + 1);
    const int left = kMargin - horizontalScrollBar()->value();
    const size_t selectionFirst = std::min(SelectionAnchor, SelectionEnd);
    const size_t selectionLast = std::max(SelectionAnchor, SelectionEnd);

    struct TRow {
        QString Text;
        QFont Font;
        QColor Pen;
        QRectF Bounds;
    };
    std::vector<TRow> rows;
    rows.reserve(last - first);
    // Backgrounds first, texts after: a descender or an underscore may reach into the next row.
    for (size_t row = first; row < last; ++row) {
        const TLogModel::TLine line = Log.Line(row);
        const TLogStyle& style = LogStyle(line.Kind);
        TRow shown{DisplayText(line.Text), LineFont, Rgb(style.Text), {}};
        shown.Font.setBold(style.Bold);
        shown.Font.setItalic(style.Italic);
        shown.Font.setUnderline(style.Underline);
        shown.Font.setStrikeOut(style.StrikeOut);
        const int y = static_cast<int>(row - first) * rowHeight;
        // Text drawn into a rectangle is clipped to it; twice the row leaves room below.
        shown.Bounds = QRectF(left, y, 1e6, 2 * rowHeight);
        if (HasSelection && row >= selectionFirst && row <= selectionLast) {
            painter.fillRect(QRect(0, y, viewport()->width(), rowHeight),
                             palette().color(QPalette::Highlight));
            shown.Pen = palette().color(QPalette::HighlightedText);
        } else {
            // As in a rich-text control, the background lies only behind the text.
            painter.setFont(shown.Font);
            const QRectF used = painter.boundingRect(shown.Bounds, shown.Text, layout);
            painter.fillRect(QRectF(left, y, used.width(), rowHeight), Rgb(style.Background));
        }
        rows.push_back(std::move(shown));
    }
    for (const TRow& row : rows) {
        painter.setFont(row.Font);
        painter.setPen(row.Pen);
        painter.drawText(row.Bounds, row.Text, layout);
    }
}

size_t TLogView::RowAt(int y) const {
    const size_t row = static_cast<size_t>(verticalScrollBar()->value()) +
                       static_cast<size_t>(std::max(0, y) / RowHeight());
    return Shown == 0 ? 0 : std::min(row, Shown - 1);
}

void TLogView::mousePressEvent(QMouseEvent* event) {
    if (Shown == 0 || event->button() != Qt::LeftButton) {
        return;
    }
    const size_t row = RowAt(static_cast<int>(event->position().y()));
    if (!(event->modifiers() & Qt::ShiftModifier) || !HasSelection) {
        SelectionAnchor = row;
    }
    SelectionEnd = row;
    HasSelection = true;
    viewport()->update();
}

void TLogView::mouseMoveEvent(QMouseEvent* event) {
    if (!HasSelection || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    SelectionEnd = RowAt(static_cast<int>(event->position().y()));
    viewport()->update();
}

void TLogView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier)) {
        verticalScrollBar()->setValue(0);
    } else if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier)) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TLogView::SelectAll() {
    if (Shown == 0) {
        return;
    }
    SelectionAnchor = 0;
    SelectionEnd = Shown - 1;
    HasSelection = true;
    viewport()->update();
}

QString TLogView::SelectedText() const {
    if (!HasSelection) {
        return {};
    }
    QString text;
    for (size_t row = std::min(SelectionAnchor, SelectionEnd);
         row <= std::max(SelectionAnchor, SelectionEnd) && row < Shown; ++row) {
        const std::string_view line = Log.Line(row).Text;
        text += QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        text += QLatin1Char('\n');
    }
    return text;
}

void TLogView::CopySelection() const {
    if (HasSelection) {
        QApplication::clipboard()->setText(SelectedText());
    }
}
