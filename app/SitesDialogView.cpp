#include "SitesDialogView.h"

#include <QLineEdit>
#include <QPushButton>

#include "DialogTexts.h"

TQtSitesDialog::TQtSitesDialog(QWidget* parent, TSitesDialog& dialog)
    : TTableDialog(parent, DialogText::kSitesCaption, DialogText::kSitesNote,
                   {DialogText::kSiteColumns.begin(), DialogText::kSiteColumns.end()}),
      Dialog(dialog) {
    AddField(DialogText::kTypedOriginLabel, DialogText::kTypedOriginHint, DialogText::kAdd);
    Allow = AddButton(DialogText::kAllow);
    Refuse = AddButton(DialogText::kRefuse);
    Forget = AddButton(DialogText::kForget);
    Refresh = AddButton(DialogText::kRefresh);
    const auto add = [this] { Dialog.Add(Field->text().toStdString()); };
    connect(FieldButton, &QPushButton::clicked, this, add);
    connect(Field, &QLineEdit::returnPressed, this, add);
    connect(Allow, &QPushButton::clicked, this, [this] { Dialog.Allow(ChosenKey()); });
    connect(Refuse, &QPushButton::clicked, this, [this] { Dialog.Refuse(ChosenKey()); });
    connect(Forget, &QPushButton::clicked, this, [this] { Dialog.Forget(ChosenKey()); });
    connect(Refresh, &QPushButton::clicked, this, [this] { Dialog.Refresh(); });
}

void TQtSitesDialog::Run() {
    Dialog.Attach(this);
    exec();
    Dialog.Attach(nullptr);
}

void TQtSitesDialog::ShowSites(const std::vector<TSiteRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    std::vector<std::string> keys;
    for (const TSiteRow& row : rows) {
        cells.push_back({row.Origin, row.State, row.LastRequest, row.Requests});
        keys.push_back(row.Origin);
    }
    SetRows(cells, keys);
}

void TQtSitesDialog::ShowSitesMessage(const std::string& text, bool error) {
    SetMessage(text, error);
}

void TQtSitesDialog::ClearTypedOrigin() {
    Field->clear();
}
