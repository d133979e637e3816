#include "LogView.h"

#include <QFont>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>

namespace {

QColor Rgb(uint32_t rgb) {
    return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>(rgb & 0xFF));
}

QTextCharFormat CharFormat(const TLogStyle& style) {
    QTextCharFormat format;
    format.setForeground(Rgb(style.Text));
    format.setBackground(Rgb(style.Background));
    format.setFontWeight(style.Bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(style.Italic);
    format.setFontUnderline(style.Underline);
    format.setFontStrikeOut(style.StrikeOut);
    return format;
}

}  // namespace

TLogView::TLogView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setMaximumBlockCount(kVisibleLines);
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(14);
    setFont(font);
}

void TLogView::AppendLine(TLogKind kind, std::string_view text) {
    QScrollBar* scroll = verticalScrollBar();
    const bool following = scroll->value() == scroll->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!document()->isEmpty()) {
        cursor.insertBlock(QTextBlockFormat(), CharFormat(kDefaultLogStyle));
    }
    cursor.insertText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                      CharFormat(LogStyle(kind)));
    // The view follows new lines only while the operator has not scrolled away from them.
    if (following) {
        scroll->setValue(scroll->maximum());
    }
}

void TLogView::Clear() {
    clear();
}
