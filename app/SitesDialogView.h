#pragma once

#include "SitesDialog.h"
#include "TableDialog.h"

// The sites dialog on Linux: the table of sites, the field for a new one with "Добавить" (Enter
// in the field adds too), "Разрешить", "Запретить", "Забыть" for the row chosen, "Обновить".
class TQtSitesDialog : public TTableDialog, public TSitesView {
public:
    TQtSitesDialog(QWidget* parent, TSitesDialog& dialog);

    // Shows the dialog until the operator closes it.
    void Run();

    void ShowSites(const std::vector<TSiteRow>& rows) override;
    void ShowSitesMessage(const std::string& text, bool error) override;
    void ClearTypedOrigin() override;

    QPushButton* Allow = nullptr;
    QPushButton* Refuse = nullptr;
    QPushButton* Forget = nullptr;
    QPushButton* Refresh = nullptr;

private:
    TSitesDialog& Dialog;
};
