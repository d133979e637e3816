#include "PortsDialogView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "DialogTexts.h"

TQtPortsDialog::TQtPortsDialog(QWidget* parent, TPortsDialog& dialog)
    : TTableDialog(parent, DialogText::kPortsCaption,
                   std::string(DialogText::kPortsNote) + " " + std::string(DialogText::kPinNote),
                   {PortColumnTitles().begin(), PortColumnTitles().end()}),
      Dialog(dialog) {
    AddField(DialogText::kPinNumberLabel, {}, DialogText::kPin);
    Refresh = AddButton(DialogText::kRefresh);
    const auto pin = [this] { Dialog.Pin(ChosenKey(), Field->text().toStdString()); };
    connect(FieldButton, &QPushButton::clicked, this, pin);
    connect(Field, &QLineEdit::returnPressed, this, pin);
    connect(Refresh, &QPushButton::clicked, this, [this] { Dialog.Refresh(); });
    connect(Table, &QTableWidget::itemSelectionChanged, this, [this] { RowChosen(); });
    RowChosen();
}

void TQtPortsDialog::Run() {
    Dialog.Attach(this);
    exec();
    Dialog.Attach(nullptr);
}

void TQtPortsDialog::ShowPorts(const std::vector<TPortRow>& rows) {
    Rows = rows;
    std::vector<std::vector<std::string>> cells;
    std::vector<std::string> keys;
    for (const TPortRow& row : rows) {
        const auto texts = PortRowCells(row);
        cells.emplace_back(texts.begin(), texts.end());
        keys.push_back(row.Port ? row.Port->Path : std::string());
    }
    SetRows(cells, keys);
    RowChosen();
}

void TQtPortsDialog::ShowPortsMessage(const std::string& text, bool error) {
    SetMessage(text, error);
}

void TQtPortsDialog::RowChosen() {
    const std::string chosen = ChosenKey();
    const TPortRow* row = nullptr;
    for (const TPortRow& each : Rows) {
        if (!chosen.empty() && each.Port && each.Port->Path == chosen) {
            row = &each;
        }
    }
    const bool pinnable = row != nullptr && !row->Port->StablePath.empty();
    FieldButton->setEnabled(pinnable);
    Field->setEnabled(pinnable);
    if (pinnable && row->OfferedNumber > 0) {
        Field->setText(QString::number(row->OfferedNumber));
    }
}
