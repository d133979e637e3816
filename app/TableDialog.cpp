#include "TableDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "DialogTexts.h"

QString QtText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

TTableDialog::TTableDialog(QWidget* parent, std::string_view caption, std::string_view note,
                           const std::vector<std::string_view>& columns)
    : QDialog(parent) {
    setWindowTitle(QtText(caption));
    setSizeGripEnabled(true);
    auto* column = new QVBoxLayout(this);
    Note = new QLabel(QtText(note), this);
    Note->setWordWrap(true);
    Note->setTextFormat(Qt::PlainText);
    Table = new QTableWidget(0, static_cast<int>(columns.size()), this);
    QStringList titles;
    for (const std::string_view title : columns) {
        titles << QtText(title);
    }
    Table->setHorizontalHeaderLabels(titles);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setStretchLastSection(true);
    FieldRow = new QHBoxLayout;
    Buttons = new QHBoxLayout;
    Message = new QLabel(this);
    Message->setWordWrap(true);
    Message->setTextFormat(Qt::PlainText);
    Message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(Note);
    column->addWidget(Table, 1);
    column->addLayout(FieldRow);
    column->addLayout(Buttons);
    column->addWidget(Message);
    Buttons->addStretch(1);
    QPushButton* close = AddButton(DialogText::kClose);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    resize(720, 360);
}

QPushButton* TTableDialog::AddButton(std::string_view text) {
    auto* button = new QPushButton(QtText(text), this);
    // Enter belongs to the field (and to the button that has the focus), never to a default one.
    button->setAutoDefault(false);
    Buttons->insertWidget(Buttons->count() - (Buttons->count() > 1 ? 2 : 0), button);
    return button;
}

void TTableDialog::AddField(std::string_view label, std::string_view hint,
                            std::string_view button) {
    FieldLabel = new QLabel(QtText(label), this);
    Field = new QLineEdit(this);
    Field->setPlaceholderText(QtText(hint));
    FieldLabel->setBuddy(Field);
    FieldButton = new QPushButton(QtText(button), this);
    FieldButton->setAutoDefault(false);
    FieldRow->addWidget(FieldLabel);
    FieldRow->addWidget(Field, 1);
    FieldRow->addWidget(FieldButton);
}

void TTableDialog::SetRows(const std::vector<std::vector<std::string>>& cells,
                           const std::vector<std::string>& keys) {
    const std::string chosen = ChosenKey();
    Keys = keys;
    Table->clearSelection();
    Table->setRowCount(static_cast<int>(cells.size()));
    for (size_t row = 0; row < cells.size(); ++row) {
        for (size_t column = 0; column < cells[row].size(); ++column) {
            Table->setItem(static_cast<int>(row), static_cast<int>(column),
                           new QTableWidgetItem(QString::fromStdString(cells[row][column])));
        }
        if (!chosen.empty() && keys[row] == chosen) {
            Table->selectRow(static_cast<int>(row));
        }
    }
    Table->resizeColumnsToContents();
}

std::string TTableDialog::ChosenKey() const {
    const QList<QTableWidgetSelectionRange> ranges = Table->selectedRanges();
    if (ranges.isEmpty()) {
        return {};
    }
    const auto row = static_cast<size_t>(ranges.front().topRow());
    return row < Keys.size() ? Keys[row] : std::string();
}

void TTableDialog::SetMessage(const std::string& text, bool error) {
    Message->setText(QString::fromStdString(text));
    Message->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
}
